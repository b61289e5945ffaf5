#include "app/MainWindowCore.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <climits>

#include "app/ControlIds.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "platform/ThreadNotifier.h"
#include "platform/TickSource.h"
#include "serial/SerialChannel.h"

namespace talvo {

std::atomic<bool> MainWindowCore::TimedOut{false};

namespace {

// Where the tick callback finds the counter and its enable flag (set by the
// initialisation call, message 74).  Written on the user-interface thread
// before the tick thread starts; read by the tick thread.
std::atomic<std::atomic<int>*> TickCounterPtr{nullptr};
std::atomic<std::atomic<bool>*> TickEnabledPtr{nullptr};

constexpr unsigned kTickInitMessage = 74;
constexpr int kTickPeriodMs = 100;
constexpr int kPumpTimeoutTicks = 32;
constexpr int kSettingsValueBytes = 1024;

const char* const kWeekdays[7] = {"日", "一", "二", "三", "四", "五", "六"};

// Counts every event delivered on the user-interface thread, so that the
// pump knows whether it dispatched anything.
class DispatchCounter : public QObject {
public:
    std::atomic<long> count{0};
    bool eventFilter(QObject*, QEvent*) override {
        count.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
};

DispatchCounter* dispatchCounter() {
    static DispatchCounter* counter = [] {
        auto* c = new DispatchCounter;
        if (auto* app = QCoreApplication::instance()) {
            c->moveToThread(app->thread());
            app->installEventFilter(c);
        }
        return c;
    }();
    return counter;
}

// The integer prefix of a text as the C library's wide atoi reads it: blanks,
// an optional sign, then decimal digits as far as they go; saturates on overflow.
int leadingInt(const QString& text) {
    int i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

QString blanks(int n) { return QString(n, u' '); }

} // namespace

QString MainWindowCore::AppTitle() { return QStringLiteral("TALVO"); }

QString MainWindowCore::FilePrompt() {
    return QStringLiteral("请用“打开文件”选择《单片机例程》中单片机目标文件(.hex\\.bin文件)");
}

MainWindowCore::MainWindowCore(FrontPanel& panel, CoreServices services, QObject* parent)
    : QObject(parent), Panel(panel), Services(std::move(services)) {
    if (!Services.settings) {
        OwnedSettings = std::make_unique<QSettingsStore>();
        Services.settings = OwnedSettings.get();
    }
    if (!Services.ticks) {
        OwnedTicks = std::make_unique<ThreadTickSource>();
        Services.ticks = OwnedTicks.get();
    }
    if (!Services.clock) Services.clock = [] { return QDateTime::currentDateTime(); };
    dispatchCounter();

    // Window timer 2: the STC sync pair every 14 ms while it runs.
    SyncTimer.setInterval(14);
    SyncTimer.setTimerType(Qt::PreciseTimer);
    connect(&SyncTimer, &QTimer::timeout, this, [this] { SendHexText(QStringLiteral("7f7f")); });


}

MainWindowCore::~MainWindowCore() {
    KillTickTimer();
    SyncTimer.stop();
}

// ---------------------------------------------------------------------------
// Start-up and close

bool MainWindowCore::Initialise() {
    // The window has created its member dialogs, its status bar and icon.
    Panel.setStatusText(0, QStringLiteral("就绪"));

    StartPortWatch();

    Panel.setCurrentIndex(ctl::ChipType, 0);
    Panel.setEnabled(ctl::SerialDebug, false);
    Panel.setEnabled(ctl::ChipButton, false);

    Panel.setChecked(ctl::HighSpeed, true);
    Panel.setChecked(ctl::LowSpeed, false);
    LowSpeedMode = false;

    Panel.setProgressRange(ctl::Progress, 0, 1024);
    Panel.setProgress(ctl::Progress, 0);

    if (!LoadSettings()) {
        Panel.setCurrentIndex(ctl::BaudList, 0);
        Panel.setCurrentIndex(ctl::ChipType, 0);
        FirmwarePath = FilePrompt();
        FirmwareName = QStringLiteral("hex");
        Panel.setText(ctl::FilePath, FirmwarePath);
    }
    LoadAccessorySettings();

    RefreshPortList();

    SetTroubleshootingTexts();
    return true;
}

void MainWindowCore::OnCloseWindow() {
    StopChannel();
    StopPortWatch();
    SaveSettings();
    KillTickTimer();
    Panel.quitApplication(0);
}

void MainWindowCore::SetTroubleshootingTexts() {
    const QString crlf = QStringLiteral("\r\n");
    const QString lf = QStringLiteral("\n");
    const QString gap = blanks(57) + crlf;
    ConnectDiagnosis = blanks(11) + QStringLiteral("故障诊断：  1.使用STC 51单片机时J0的短路帽必需短接Auto，使用ARM时，跳到ON端") + crlf +
                       gap +
                       blanks(24) + QStringLiteral("2.使用开发箱的USB：将J-TXD和J-RXD必需跳到USB端") + crlf +
                       blanks(26) + QStringLiteral("使用开发箱9针串口：将J-TXD和J-RXD必需跳到DB9端") + crlf +
                       gap +
                       blanks(24) + QStringLiteral("3.打开电源开关") + crlf +
                       gap +
                       blanks(24) + QStringLiteral("4.将单片机放在单片机锁紧座的最中间，以免接触不良") + lf +
                       gap +
                       blanks(24) + QStringLiteral("5.检测单片机是否放反") + lf +
                       gap +
                       blanks(25) + QStringLiteral("6.晶振(sol)是否插上") + lf +
                       gap +
                       blanks(25) + QStringLiteral("7.单片机ISP功能损坏") + lf;
    PortDiagnosis = blanks(18) + QStringLiteral("故障诊断:     1.可能没安装驱动程序，请安装相应USB芯片的驱动程序") + crlf +
                    gap +
                    blanks(32) + QStringLiteral("2.USB虚拟端口不存在了，请拔掉USB线再插,让设备重新识别") + crlf +
                    gap +
                    blanks(32) + QStringLiteral("3.串口被别的软件占用，请先关闭占用端口的软件") + crlf +
                    gap +
                    blanks(32) + QStringLiteral("4.USB通信线断了，请更换USB打印线试试") + crlf +
                    gap +
                    blanks(32) + QStringLiteral("5.USB芯片故障，请更换USB芯片") + crlf +
                    gap +
                    blanks(32) + QStringLiteral("6.如果经常出现，表现不稳定，CP11电容可能不良") + crlf +
                    gap +
                    blanks(21) + QStringLiteral("请按照上述故障信息逐个排查") + blanks(26);
}

// ---------------------------------------------------------------------------
// Settings

bool MainWindowCore::LoadSettings() {
    SettingsStore& store = *Services.settings;
    if (!store.openForRead()) return false;

    // What a setting holds when its value cannot be read: the first-run default.
    QString texts[4] = {FilePrompt(), QStringLiteral("hex"), QStringLiteral("110"), QStringLiteral("0")};
    const char* const names[4] = {"Path", "filename", "baud", "MCUTYPE"};
    for (int i = 0; i < 4; ++i) {
        if (auto value = store.readValue(QString::fromLatin1(names[i]), kSettingsValueBytes))
            texts[i] = *value;
        else
            Panel.messageBox(QStringLiteral("错误：无法查询有关的注册表信息"), AppTitle(), MsgIcon::Warning);
    }

    FirmwarePath = texts[0];
    FirmwareName = texts[1];
    Panel.setText(ctl::FilePath, FirmwarePath);

    Panel.setCurrentIndex(ctl::BaudList, FindPrefix(Panel.items(ctl::BaudList), texts[2], 1));

    const int chip = static_cast<int8_t>(leadingInt(texts[3]) & 0xFF);
    const int chipCount = Panel.items(ctl::ChipType).size();
    Panel.setCurrentIndex(ctl::ChipType, chip >= 0 && chip < chipCount ? chip : -1);
    return true;
}

int MainWindowCore::FindPrefix(const QStringList& items, const QString& prefix, int startAt) {
    const int n = items.size();
    if (n == 0) return -1;
    for (int k = 0; k < n; ++k) {
        const int i = (startAt + k) % n;
        if (items[i].startsWith(prefix, Qt::CaseInsensitive)) return i;
    }
    return -1;
}

void MainWindowCore::SaveSettings() {
    const QStringList bauds = Panel.items(ctl::BaudList);
    const int baudIndex = Panel.currentIndex(ctl::BaudList);
    QString baud;
    if (baudIndex >= 0 && baudIndex < bauds.size())
        baud = bauds[baudIndex];
    else if (bauds.size() > 1)
        baud = bauds[1];
    const std::vector<std::pair<QString, QString>> values = {
        {QStringLiteral("Path"), FirmwarePath},
        {QStringLiteral("filename"), FirmwareName},
        {QStringLiteral("baud"), baud},
        {QStringLiteral("MCUTYPE"), QString::number(Panel.currentIndex(ctl::ChipType))},
    };
    QString reason;
    if (!Services.settings->writeValues(values, &reason))
        Panel.messageBox(QStringLiteral("错误: 无法打开有关的hKEY!"), AppTitle(), MsgIcon::Warning);
}

int MainWindowCore::SelectedChipType() const { return Panel.currentIndex(ctl::ChipType); }

// ---------------------------------------------------------------------------
// Status log, progress, clock

void MainWindowCore::AppendLog(const QString& line) {
    const QString old = Panel.text(ctl::StatusLog);
    Panel.setText(ctl::StatusLog, old.isEmpty() ? line : old + QStringLiteral("\r\n") + line);
    Panel.logLineAppended(line);
}

void MainWindowCore::SetProgress(int position) { Panel.setProgress(ctl::Progress, position); }

QString MainWindowCore::FormatClock(const QDateTime& local) {
    const QDate d = local.date();
    const QTime t = local.time();
    const int weekday = d.dayOfWeek() % 7; // Qt: Monday 1 .. Sunday 7; the table starts on Sunday
    return QString::asprintf("%d-%02d-%02d  %02d:%02d:%02d   星期", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second()) +
           QString::fromUtf8(kWeekdays[weekday]);
}

void MainWindowCore::ShowClock() { Panel.setStatusText(1, FormatClock(Services.clock())); }

// ---------------------------------------------------------------------------
// Download command and waiting machinery

void MainWindowCore::TickTimerProc(unsigned timerId, unsigned message, uintptr_t user, uintptr_t data1,
                                   uintptr_t data2) {
    (void)timerId;
    (void)user;
    (void)data2;
    if (message == kTickInitMessage && data1 != 0) {
        const auto* targets = reinterpret_cast<const TickTargets*>(data1);
        TickCounterPtr.store(targets->count);
        TickEnabledPtr.store(targets->enabled);
    }
    std::atomic<int>* count = TickCounterPtr.load();
    std::atomic<bool>* enabled = TickEnabledPtr.load();
    if (count && enabled && enabled->load()) count->fetch_add(1);
}

bool MainWindowCore::StartTickTimer() {
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    QString error;
    TickTimerId = Services.ticks->start(
        kTickPeriodMs,
        [dispatcher] {
            TickTimerProc(0, 0, 0, 0, 0);
            // The tick is published before the pump wakes up to look at it.
            if (dispatcher) dispatcher->wakeUp();
        },
        &error);
    if (TickTimerId == 0) LastTickError = error;
    return TickTimerId != 0;
}

void MainWindowCore::KillTickTimer() {
    if (TickTimerId != 0) {
        Services.ticks->stop(TickTimerId);
        TickTimerId = 0;
    }
}

void MainWindowCore::StartDownload() {
    // 1. A fresh log.
    Panel.setText(ctl::StatusLog, QString());

    // 2. The file's content on disk now is what gets programmed; a file that
    //    cannot be loaded stops the download instead of programming the image
    //    held from before.
    if (!LoadFirmware(FirmwarePath, FirmwareName)) {
        AppendLog(FirmwareLoadFailedLine());
        return;
    }

    // 3.
    if (FileChanged.exchange(false)) AppendLog(QStringLiteral("HEX文件以更新!"));

    // 4.
    Panel.setEnabled(ctl::Download, false);
    Panel.setEnabled(ctl::OpenFile, false);
    Downloading = true;

    // 5.
    HandshakePending = true;
    SerialChannel::PortTestMode.store(false);
    TickEnabled = false;
    PortOpenAllowed = true;
    TimedOut = false;
    TickCount = 0;

    // 6. Initialisation call of the tick procedure.
    TickTargets targets{&TickCount, &TickEnabled};
    TickTimerProc(0, kTickInitMessage, 0, reinterpret_cast<uintptr_t>(&targets), 0);

    // 7. The 100 ms tick.  Without it no wait could ever time out, so a tick
    //    that cannot be started stops the download before it talks to a chip.
    if (!StartTickTimer()) {
        AppendLog(QStringLiteral("错误：无法启动100毫秒计时器，下载未开始（%1）").arg(LastTickError));
        Downloading = false;
        Panel.setEnabled(ctl::Download, true);
        Panel.setEnabled(ctl::OpenFile, true);
        return;
    }

    // 8. Branch by chip type: index 0 is the STM32; everything else,
    //    no selection included, takes the STC path.
    if (SelectedChipType() != 0)
        RunStcDownload();
    else
        DownloadStm32();

    // 9. Whatever happened.
    StopChannel();
    Panel.setEnabled(ctl::Download, true);
    Panel.setEnabled(ctl::OpenFile, true);
    KillTickTimer();
    Downloading = false;
}

int MainWindowCore::PumpMessages() {
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher) return 0;
    DispatchCounter* counter = dispatchCounter();
    const long before = counter->count.load(std::memory_order_relaxed);

    dispatcher->processEvents(QEventLoop::AllEvents);
    if (counter->count.load(std::memory_order_relaxed) == before) {
        // Nothing was queued: sleep until the next event or tick.  The tick
        // thread wakes the dispatcher every 100 ms; without a running tick
        // (a wait outside a download) sleep a short while instead.
        if (TickTimerId != 0 && Services.ticks->running(TickTimerId)) {
            dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        } else {
            QThread::msleep(10);
            dispatcher->processEvents(QEventLoop::AllEvents);
        }
    }
    const int dispatched = static_cast<int>(counter->count.load(std::memory_order_relaxed) - before);
    if (dispatched > 0 && TickCount.load() > kPumpTimeoutTicks) TimedOut = true;
    return dispatched;
}

void MainWindowCore::EndDownload() {
    TickCount = 0;
    TickEnabled = false;
    AwaitingConnect = false;
    AwaitingReply = false;
    SyncTimer.stop();
    StopChannel();
    SetProgress(0);
    Panel.setEnabled(ctl::Download, true);
    Panel.setEnabled(ctl::OpenFile, true);
    KillTickTimer();
}

bool MainWindowCore::event(QEvent* e) {
    if (e->type() == WM_SERIAL_DATA) {
        OnSerialData();
        return true;
    }
    if (e->type() == WM_PORTS_CHANGED) {
        RefreshPortList();
        return true;
    }
    return QObject::event(e);
}

} // namespace talvo
