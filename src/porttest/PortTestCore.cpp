#include "porttest/PortTestCore.h"

#include <QCoreApplication>

#include <QEvent>

#include "platform/Messages.h"
#include "porttest/PortTestIds.h"

namespace talvo {

namespace {

QString blanks(int n) { return QString(n, u' '); }

// Block n's bytes: a fixed pseudo-random sequence (splitmix64 from a seed of
// its own) whose last byte is the event character of its rate.  No other byte
// of the block equals that character: the reader announces the echo at the
// first event character after the write, so one in the middle would have the
// test read half an echo and fail a sound wire.
QString makeBlock(int n, uint8_t eventChar) {
    uint64_t state = 0x54414C564F000000ull + static_cast<uint64_t>(n); // "TALVO" and the block number
    auto next = [&state] {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    QString text;
    text.reserve(PortTestCore::kBlockBytes * 3 - 1);
    for (int i = 0; i < PortTestCore::kBlockBytes; ++i) {
        uint8_t byte = eventChar;
        if (i + 1 < PortTestCore::kBlockBytes) {
            do byte = static_cast<uint8_t>(next() >> 56);
            while (byte == eventChar);
        }
        if (i > 0) text += u' ';
        text += QString::asprintf("%02X", byte);
    }
    return text;
}

} // namespace

const PortTestCore::Rate& PortTestCore::RateOf(uint32_t baud) {
    for (const Rate& r : kRates)
        if (r.baud == baud) return r;
    return kRates[0];
}

PortTestCore::PortTestCore(FrontPanel& panel, PortTestLink& link, QObject* parent)
    : QObject(parent), Panel(panel), Link(link) {
    // Blocks 1 and 2 go at the first rate, 3 and 4 at the second, 5 and 6 at the third.
    for (int n = 1; n <= kBlockCount; ++n)
        Blocks[static_cast<size_t>(n - 1)] = makeBlock(n, kRates[(n - 1) / 2].eventChar);
    TestTimer.setInterval(kTickMs);
    TestTimer.setTimerType(Qt::PreciseTimer); // 31 ticks are the 3.1 s time-out, not 2.9 s
    connect(&TestTimer, &QTimer::timeout, this, [this] {
        if (Timing) ++TickCount;
    });
}

PortTestCore::~PortTestCore() { Link.SetPortTestTarget(nullptr); }

QString PortTestCore::InstructionText() {
    const QString crlf = QStringLiteral("\r\n");
    const QChar ideo(0x3000);
    return blanks(14) + QCoreApplication::translate("PortTestCore", "此功能用来检测 串口是否正常！") + crlf + //
           blanks(11) + crlf +                                               //
           blanks(2) + ideo + ideo + QCoreApplication::translate("PortTestCore", "测试串口功能是否正常完成") + ideo + QCoreApplication::translate("PortTestCore", "“收”") +
           ideo + QCoreApplication::translate("PortTestCore", "“发”") + ideo + QCoreApplication::translate("PortTestCore", "功能") + crlf + //
           crlf +                                                                   //
           QCoreApplication::translate("PortTestCore", " 1.如果能正常通过测试，说明串口没有问题") + crlf +         //
           crlf +                                                                   //
           QCoreApplication::translate("PortTestCore", " 2.如果不能通过测试，说明USB电路或串口电路有故障") + crlf;
}

QString PortTestCore::EndText() {
    return blanks(35) + QStringLiteral("END  TEST") + blanks(1) + QStringLiteral("\r\n") + QString(27, u'-') +
           QStringLiteral("Successful") + QString(29, u'-') + QStringLiteral("!") + blanks(3);
}

QString PortTestCore::RateLine(uint32_t baud, bool ok) {
    const Rate& r = RateOf(baud);
    return QStringLiteral("set baud rate to %1 bps...").arg(baud) + blanks(r.blanksBefore) +
           (ok ? QStringLiteral("OK") : QStringLiteral("FAIL")) + blanks(r.blanksAfter);
}

QString PortTestCore::WriteLine() { return QStringLiteral("wirte 512bytes...") + blanks(10) + QStringLiteral("OK "); }

QString PortTestCore::CompareLine(bool ok) {
    return QStringLiteral("Compare Data...") + blanks(10) + (ok ? QStringLiteral("OK ") : QStringLiteral("FAIL "));
}

QString PortTestCore::ReadFailLine() { return QStringLiteral("Connect port read...") + blanks(10) + QStringLiteral("FAIL "); }

QString PortTestCore::ReasonLine(const QString& reason) { return QCoreApplication::translate("PortTestCore", "原因：%1").arg(reason); }

void PortTestCore::ResetPortTest() {
    Panel.setProgressRange(ptctl::Progress, 0, kBlockCount);
    Panel.setProgress(ptctl::Progress, 0);
    Panel.setText(ptctl::Log, InstructionText());
    Panel.setText(ptctl::State, QCoreApplication::translate("PortTestCore", "就绪"));
}

void PortTestCore::AppendTestLine(const QString& line) {
    const QString old = Panel.text(ptctl::Log);
    Panel.setText(ptctl::Log, old.isEmpty() ? line : old + QStringLiteral("\r\n") + line);
    Panel.logLineAppended(line);
}

bool PortTestCore::SetRate(int step) {
    const uint32_t baud = step == 2 ? 57600 : 115200;
    QString reason;
    if (Link.ConfigureTestPort(baud, 0, RateOf(baud).eventChar, &reason)) {
        AppendTestLine(RateLine(baud, true));
        return true;
    }
    AppendTestLine(RateLine(baud, false));
    AppendTestLine(ReasonLine(reason));
    FailTest();
    return false;
}

bool PortTestCore::RunLoopbackTest() {
    if (InTest) return false;
    InTest = true;
    Aborted = false;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{InTest};

    // 1.
    Panel.setEnabled(ptctl::Test, false);
    TestTimer.start();
    Panel.setText(ptctl::Log, QString());
    Panel.setProgress(ptctl::Progress, 0);

    // 2. The port at 9600 baud.  The open operation has shown its own message;
    //    the system's reason goes into the log, above the test's own message
    //    about the registry.
    Link.SetPortTestTarget(this);
    QString reason;
    if (!Link.OpenTestPort(9600, 0, RateOf(9600).eventChar, &reason)) {
        AppendTestLine(RateLine(9600, false));
        AppendTestLine(ReasonLine(reason));
        FailTest();
        Panel.messageBox(QCoreApplication::translate("PortTestCore", "错误：无法查询有关的注册表信息"), QStringLiteral("TALVO"), MsgIcon::Warning);
        return false;
    }

    // 3.
    AppendTestLine(RateLine(9600, true));
    Link.StartReader();
    Link.SetReplyDelayMs(kReplyDelayMs);
    Link.SetPortTestMode(true);
    Step = 0;

    // 4.
    for (Step = 0; Step < kBlockCount;) {
        Panel.setText(ptctl::State, QCoreApplication::translate("PortTestCore", "正在测试中...."));
        if ((Step == 2 || Step == 4) && !SetRate(Step)) return false;

        QString hex = Block(Step + 1);
        hex.remove(u' ');
        Link.SendHexText(hex);
        AppendTestLine(WriteLine());

        TickCount = 0;
        Timing = false;
        Waiting = true;
        do {
            Link.WaitForEvents();
            if (!Timing) Timing = true;
            if (TickCount > kEchoTimeoutTicks || Aborted) {
                AppendTestLine(ReadFailLine());
                FailTest();
                return false;
            }
        } while (Waiting);

        ++Step;
        Panel.setProgress(ptctl::Progress, Step);
    }

    // 5., 6.  PortTestMode stays set; the next download clears it.
    AppendTestLine(EndText());
    Panel.setText(ptctl::State, QCoreApplication::translate("PortTestCore", "测试 OK"));
    Link.StopChannel();
    TickCount = 0;
    Timing = false;
    TestTimer.stop();
    Panel.setEnabled(ptctl::Test, true);
    return true;
}

void PortTestCore::OnTestData() {
    if (!InTest) return;
    const unsigned n = Link.ReadEcho(ReceiveBuffer, kBlockBytes);
    // Bytes that did not arrive stay zero and take part in the comparison.
    if (n == 0) ReceiveBuffer.fill('\0');
    const QString received = QString::fromLatin1(ReceiveBuffer.left(kBlockBytes).toHex());
    QString expected = Block(Step + 1);
    expected.remove(u' ');
    if (received.compare(expected, Qt::CaseInsensitive) == 0) {
        Waiting = false;
        AppendTestLine(CompareLine(true));
    } else {
        AppendTestLine(CompareLine(false));
    }
}

void PortTestCore::FailTest() {
    TickCount = 0;
    Timing = false;
    Waiting = false;
    Link.SetPortTestMode(false);
    TestTimer.stop();
    Link.StopChannel();
    Panel.setText(ptctl::State, QCoreApplication::translate("PortTestCore", "测试失败."));
    Panel.setEnabled(ptctl::Test, true);
}

bool PortTestCore::event(QEvent* e) {
    if (e->type() == WM_PORTTEST_DATA) {
        OnTestData();
        return true;
    }
    return QObject::event(e);
}

} // namespace talvo
