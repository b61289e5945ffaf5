// The serial terminal's core: the link against the loopback simulator and a
// pty (echo, modem lines on the simulated wire, a 1 MB burst without loss, a
// hang-up), and the formatter's state across batches.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <thread>

#include "platform/CapturingFactory.h"
#include "platform/PtyPair.h"
#include "platform/SerialDeviceFactory.h"
#include "platform/SimWireDevice.h"
#include "serial/SerialTerminal.h"
#include "serial/TerminalFormatter.h"
#include "sim/Simulators.h"

using namespace talvo;

namespace {

using test::CapturingFactory;

// Pumps this thread's events until `done` or 30 s.
template <class F>
bool pumpUntil(F done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 30000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

LineSettings rate(uint32_t baud) {
    LineSettings s;
    s.baud = baud;
    return s;
}

} // namespace

TEST(SerialTerminal, EchoesThroughTheLoopbackSimulatorAndDrivesTheModemLines) {
    sim::registerSimulators();
    CapturingFactory factory;
    SerialTerminal term(&factory);
    QString error;
    ASSERT_TRUE(term.open("sim:loopback", rate(115200), false, true, &error)) << error.toStdString();
    ASSERT_NE(factory.Wire, nullptr);
    EXPECT_EQ(factory.Wire->lines(), (ModemLines{false, true}));

    QByteArray got;
    int batches = 0;
    QObject::connect(&term, &SerialTerminal::dataReady, [&] {
        ++batches;
        got += term.takeReceived();
    });
    const QByteArray hello = QByteArray("hello, 你好\r\n") + QByteArray::fromHex("00ff7f");
    ASSERT_TRUE(term.send(hello));
    ASSERT_TRUE(pumpUntil([&] { return got.size() >= hello.size(); })) << got.toHex().toStdString();
    EXPECT_EQ(got, hello);
    EXPECT_EQ(term.sentCount(), static_cast<uint64_t>(hello.size()));
    EXPECT_EQ(term.receivedCount(), static_cast<uint64_t>(hello.size()));
    EXPECT_GE(batches, 1);

    ASSERT_TRUE(term.setRts(true));
    ASSERT_TRUE(term.setDtr(false));
    EXPECT_EQ(factory.Wire->lines(), (ModemLines{true, false}));
    int lineEvents = 0;
    for (const auto& e : factory.Wire->history())
        if (e.kind == SimWireDevice::Event::Lines) ++lineEvents;
    EXPECT_GE(lineEvents, 3);
    term.close();
    EXPECT_FALSE(term.isOpen());
    EXPECT_FALSE(term.send("x"));
}

TEST(SerialTerminal, OneMegabyteBurstOverAPtyArrivesWhole) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialTerminal term;
    QString error;
    ASSERT_TRUE(term.open(pty.slavePath, rate(921600), false, false, &error)) << error.toStdString();
    QByteArray burst(1 << 20, '\0');
    for (int i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>((i * 131 + (i >> 10)) & 0xFF);
    QByteArray got;
    QObject::connect(&term, &SerialTerminal::dataReady, [&] { got += term.takeReceived(); });
    std::thread writer([&] {
        pty.writeMaster(std::vector<uint8_t>(burst.begin(), burst.end()));
    });
    const bool whole = pumpUntil([&] { return got.size() >= burst.size(); });
    writer.join();
    ASSERT_TRUE(whole) << got.size();
    EXPECT_TRUE(got == burst);
    EXPECT_EQ(term.droppedCount(), 0u);

    // And the other way: what the terminal sends reaches the master.
    ASSERT_TRUE(term.send("AT\r"));
    EXPECT_EQ(pty.readMaster(3), (std::vector<uint8_t>{'A', 'T', '\r'}));
}

TEST(SerialTerminal, ReportsAHangUpOnce) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialTerminal term;
    QString error;
    ASSERT_TRUE(term.open(pty.slavePath, rate(9600), false, false, &error)) << error.toStdString();
    QStringList reasons;
    QObject::connect(&term, &SerialTerminal::failed, [&](const QString& why) { reasons << why; });
    pty.closeMaster();
    ASSERT_TRUE(pumpUntil([&] { return !reasons.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(reasons.size(), 1);
    EXPECT_TRUE(reasons.first().contains(pty.slavePath)) << reasons.first().toStdString();
    term.close();
}

TEST(SerialTerminal, OpenFailureNamesThePortAndTheReason) {
    SerialTerminal term;
    QString error;
    EXPECT_FALSE(term.open("/nonexistent/ttyTALVO", rate(9600), false, false, &error));
    EXPECT_TRUE(error.contains("/nonexistent/ttyTALVO")) << error.toStdString();
    EXPECT_FALSE(term.isOpen());
}

TEST(TerminalFormatter, CarriesItsStateAcrossBatches) {
    const QTime at(12, 34, 56, 789);
    struct Case {
        const char* name;
        TerminalFormatter::Mode mode;
        bool stamps;
        std::vector<QByteArray> batches;
        QString shown;
    };
    const QByteArray ni = QByteArray("你"); // three UTF-8 bytes
    const Case cases[] = {
        {"utf8 split", TerminalFormatter::Mode::Text, false, {ni.left(1), ni.mid(1, 1), ni.mid(2) + "ok"}, "你ok"},
        {"crlf split", TerminalFormatter::Mode::Text, false, {"a\r", "\nb\rc\n\nd"}, "a\nb\nc\n\nd"},
        {"controls", TerminalFormatter::Mode::Text, false, {QByteArray("x\x01\ty\x7f", 5)}, "x\u2401\ty\u2421"},
        {"stamps", TerminalFormatter::Mode::Text, true, {"ab\r\nc", "d\n"}, "[12:34:56.789] ab\n[12:34:56.789] cd\n"},
        {"hex lines", TerminalFormatter::Mode::Hex, false, {QByteArray(10, 'A'), QByteArray(10, 'B')},
         "41 41 41 41 41 41 41 41 41 41 42 42 42 42 42 42 \n42 42 42 42 "},
        {"hex stamps", TerminalFormatter::Mode::Hex, true, {QByteArray::fromHex("00ff"), QByteArray(16, 'C')},
         "[12:34:56.789] 00 FF 43 43 43 43 43 43 43 43 43 43 43 43 43 43 \n[12:34:56.789] 43 43 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFormatter f;
        f.setMode(c.mode);
        f.setTimestamps(c.stamps);
        QString shown;
        for (const QByteArray& b : c.batches) shown += f.format(b, at);
        EXPECT_EQ(shown, c.shown);
    }

    // A change of mode in mid-line starts a new line.
    TerminalFormatter f;
    QString shown = f.format("ab", at);
    f.setMode(TerminalFormatter::Mode::Hex);
    shown += f.format("ab", at);
    f.setMode(TerminalFormatter::Mode::Text);
    shown += f.format("c", at);
    EXPECT_EQ(shown, "ab\n61 62 \nc");
}

// Bytes that arrived at several times: each line is stamped with the time
// its first byte arrived, also when a display slice cuts through an arrival
// or a line runs across arrivals.
TEST(TerminalFormatter, StampsEachLineWithItsFirstBytesArrival) {
    const QTime t1(10, 0, 0, 1), t2(10, 0, 0, 2), t3(10, 0, 0, 3);
    TimedBytes received;
    received.append("ab\ncd", 5, t1);
    received.append("e\n", 2, t2);
    received.append("f", 1, t2); // the same millisecond: one arrival
    received.append("g\nh\n", 4, t3);
    ASSERT_EQ(received.arrivals.size(), 3u);
    EXPECT_EQ(received.arrivals[1].offset, 5);

    const QString expected = "[10:00:00.001] ab\n[10:00:00.001] cde\n[10:00:00.002] fg\n[10:00:00.003] h\n";
    for (const qsizetype slice : {qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(5), qsizetype(6), qsizetype(100)}) {
        SCOPED_TRACE(slice);
        TimedBytes rest = received;
        TerminalFormatter f;
        f.setTimestamps(true);
        QString shown;
        qsizetype taken = 0;
        while (!rest.isEmpty()) {
            const TimedBytes piece = rest.takeFront(slice);
            ASSERT_FALSE(piece.arrivals.empty());
            EXPECT_EQ(piece.arrivals.front().offset, 0);
            taken += piece.size();
            shown += f.format(piece);
        }
        EXPECT_EQ(taken, received.size());
        EXPECT_EQ(shown, expected);
    }

    // Held bytes beyond the limit are dropped from the front with their times.
    TimedBytes held = received;
    held.dropFront(6);
    ASSERT_EQ(held.arrivals.size(), 2u);
    EXPECT_EQ(held.arrivals[0].offset, 0);
    EXPECT_EQ(held.arrivals[0].at, t2);
    EXPECT_EQ(held.bytes, QByteArray("\nfg\nh\n"));
    TimedBytes joined;
    joined.append(std::move(held));
    joined.append(TimedBytes(received));
    EXPECT_EQ(joined.bytes, QByteArray("\nfg\nh\nab\ncde\nfg\nh\n"));
    EXPECT_EQ(joined.arrivals.size(), 5u);
}

TEST(TerminalFormatter, ParsesTheHexSendBox) {
    struct Case {
        QString text;
        bool ok;
        QByteArray bytes;
        const char* errorHas;
    };
    const Case cases[] = {
        {"48 65 6c", true, "Hel", ""},
        {"48,65,6C\n0d0A", true, "Hel\r\n", ""},
        {"", true, "", ""},
        {"4 8", false, "", "第 1 个字符"},
        {"48 6", false, "", "第 4 个字符"},
        {"48 zz", false, "", "“z”"},
        {"４８", false, "", "第 1 个字符"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QByteArray out = "untouched";
        QString error;
        EXPECT_EQ(TerminalFormatter::parseHex(c.text, &out, &error), c.ok);
        if (c.ok) {
            EXPECT_EQ(out, c.bytes);
        } else {
            EXPECT_TRUE(error.contains(c.errorHas)) << error.toStdString();
        }
    }
}
