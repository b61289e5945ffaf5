#include "app/MainWindowCore.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <climits>

#include "app/ControlIds.h"
#include "platform/Messages.h"
#include "protocol/ChipTypes.h"
#include "protocol/Diagnosis.h"
#include "platform/SettingsStore.h"
#include "platform/ThreadNotifier.h"
#include "platform/TickSource.h"
#include "serial/SerialChannel.h"

namespace talvo {

namespace {

// Where the tick callback finds the counter and its enable flag (set by the
// initialisation call, message 74).  Written on the user-interface thread
// before the tick thread starts; read by the tick thread.
std::atomic<std::atomic<int>*> TickCounterPtr{nullptr};
std::atomic<std::atomic<bool>*> TickEnabledPtr{nullptr};

constexpr unsigned kTickInitMessage = 74;
constexpr int kTickPeriodMs = 100;
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


} // namespace

QString MainWindowCore::AppTitle() { return QStringLiteral("TALVO"); }

QString MainWindowCore::FilePrompt() {
    return QStringLiteral("请用“打开文件”选择《单片机例程》中单片机目标文件(.hex\\.bin文件)");
}

MainWindowCore::MainWindowCore(FrontPanel& panel, CoreServices services, QObject* parent)
    : QObject(parent), Panel(panel), Services(std::move(services)) {
    Channel = std::make_shared<SerialChannel>();
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
    // Wakes a waiting download when a stop is asked for from elsewhere.
    CancelBell = std::make_unique<ThreadNotifier>([] {});


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
    ConnectDiagnosisText = protocol::ConnectDiagnosisText();
    PortDiagnosisText = protocol::PortDiagnosisText();
}

// ---------------------------------------------------------------------------
// Settings

bool MainWindowCore::LoadSettings() {
    SettingsStore& store = *Services.settings;
    QString problem;
    if (!store.openForRead(&problem)) {
        // None yet: the first run.  Settings that cannot be read (a FIFO or
        // a folder at their path, say): one message, then the defaults.
        if (!problem.isEmpty())
            Panel.messageBoxWithCause(QStringLiteral("错误：无法查询有关的注册表信息"), AppTitle(), MsgIcon::Warning,
                                      QStringLiteral("settings %1: %2; the defaults are used")
                                          .arg(store.location(), problem));
        return false;
    }

    // What a setting holds when its value cannot be read: the first-run default.
    QString texts[4] = {FilePrompt(), QStringLiteral("hex"), QStringLiteral("110"), QStringLiteral("0")};
    const char* const names[4] = {"Path", "filename", "baud", "MCUTYPE"};
    for (int i = 0; i < 4; ++i) {
        QString reason;
        if (auto value = store.readValue(QString::fromLatin1(names[i]), kSettingsValueBytes, &reason))
            texts[i] = *value;
        else
            Panel.messageBoxWithCause(QStringLiteral("错误：无法查询有关的注册表信息"), AppTitle(), MsgIcon::Warning,
                                      QStringLiteral("settings %1, value \"%2\": %3")
                                          .arg(store.location(), QString::fromLatin1(names[i]), reason));
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
        Panel.messageBoxWithCause(QStringLiteral("错误: 无法打开有关的hKEY!"), AppTitle(), MsgIcon::Warning,
                                  QStringLiteral("settings %1: %2").arg(Services.settings->location(), reason));
}

int MainWindowCore::SelectedChipType() const { return Panel.currentIndex(ctl::ChipType); }

ChipFamily MainWindowCore::ImageFamily() const {
    return protocol::IsStm32ChipType(SelectedChipType()) ? ChipFamily::Stm32 : ChipFamily::Stc;
}

// ---------------------------------------------------------------------------
// Status log, progress, clock

void MainWindowCore::AppendLog(const QString& line) {
    const QString old = Panel.text(ctl::StatusLog);
    Panel.setText(ctl::StatusLog, old.isEmpty() ? line : old + QStringLiteral("\r\n") + line);
    DownloadLogLines << line;
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
    // The initialisation call of the tick procedure: it counts this core's ticks.
    TickTargets targets{&TickCount, &TickEnabled};
    TickTimerProc(0, kTickInitMessage, 0, reinterpret_cast<uintptr_t>(&targets), 0);

    // The periodic timer.
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

void MainWindowCore::StartDownload() { RunDownload(nullptr, FirmwarePath); }

void MainWindowCore::StartDownload(const LoadedImage& image, const QString& source) { RunDownload(&image, source); }

void MainWindowCore::RunDownload(const LoadedImage* given, const QString& source) {
    // 1. A fresh log.
    Panel.setText(ctl::StatusLog, QString());
    DownloadLogLines.clear();

    // 2. The file's content on disk now is what gets programmed (or the image
    //    given); one that cannot be loaded stops the download instead of
    //    programming the image held from before.
    if (!(given ? TakeImage(*given, source) : LoadFirmware(FirmwarePath, FirmwareName))) {
        AppendLog(LoadFailedLine(source));
        return;
    }

    // 3.
    if (!given && FileChanged.exchange(false)) AppendLog(QStringLiteral("HEX文件以更新!"));

    // 4.
    Panel.setEnabled(ctl::Download, false);
    Panel.setEnabled(ctl::OpenFile, false);
    Downloading = true;

    // 5.  The download keeps the port it starts with: a refresh of the port
    //     list meanwhile (a converter plugged in elsewhere) does not move it.
    DownloadPort = CurrentPort;
    ReceivedBytes.clear();
    CancelRequested = false;
    Report = {};
    Channel->PortTestMode.store(false);
    TickEnabled = false;
    PortOpenAllowed = true;
    TickCount = 0;

    // 6.-7. The initialisation call of the tick procedure, then the 100 ms
    //    tick.  Without it no wait could ever time out, so a tick that cannot
    //    be started stops the download before it talks to a chip.
    if (!StartTickTimer()) {
        AppendLog(QStringLiteral("错误：无法启动100毫秒计时器，下载未开始（%1）").arg(LastTickError));
        Downloading = false;
        Panel.setEnabled(ctl::Download, true);
        Panel.setEnabled(ctl::OpenFile, true);
        return;
    }

    // 8. Branch by chip type; no selection takes the STC path.
    if (protocol::IsStm32ChipType(SelectedChipType()))
        DownloadStm32();
    else
        RunStcDownload();
    if (!Report.success)
        Report.failure = CancelRequested.load() ? QStringLiteral("下载已取消") : LastFailureLine();

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
    return static_cast<int>(counter->count.load(std::memory_order_relaxed) - before);
}

void MainWindowCore::EndDownload() {
    TickCount = 0;
    TickEnabled = false;
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
