#include "host/SerialDownloadHost.h"

#include <QCoreApplication>

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QThread>

#include <cerrno>

#include "platform/Messages.h"
#include "platform/PortClaims.h"
#include "platform/PortHolders.h"
#include "platform/SimRegistry.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "platform/ThreadNotifier.h"
#include "platform/ThreadTickSource.h"
#include "protocol/Diagnosis.h"
#include "serial/SerialChannel.h"

namespace talvo {

using protocol::WaitResult;

namespace {

constexpr int kTickPeriodMs = 100;
// Bytes that the reader did not hand on within this time are taken at once.
constexpr auto kPortPollInterval = std::chrono::milliseconds(100);
// Without a running tick a pump that finds nothing queued sleeps this long.
constexpr unsigned long kIdlePumpSleepMs = 10;
const QByteArray kSyncPair("\x7f\x7f", 2);
// A holder's command line longer than this is shortened in the log line.
constexpr int kMaxCommandChars = 120;

} // namespace

SerialDownloadHost::SerialDownloadHost(HostReports reports, HostServices services, QObject* parent)
    : QObject(parent), Reports(std::move(reports)), Services(std::move(services)) {
    Link = std::make_unique<SerialChannel>();
    if (!Services.ticks) {
        OwnedTicks = std::make_unique<ThreadTickSource>();
        Services.ticks = OwnedTicks.get();
    }
    // Window timer 2: the STC sync pair every 14 ms while it runs.
    SyncTimer.setInterval(14);
    SyncTimer.setTimerType(Qt::PreciseTimer);
    connect(&SyncTimer, &QTimer::timeout, this, [this] { WriteToLine(kSyncPair); });
    // Wakes a waiting download when a stop is asked for from elsewhere.
    CancelBell = std::make_unique<ThreadNotifier>([] {});
}

SerialDownloadHost::~SerialDownloadHost() {
    KillTickTimer();
    SyncTimer.stop();
    ReleaseClaim();
}

QString SerialDownloadHost::DownloadHolderName() { return QCoreApplication::translate("SerialDownloadHost", "下载程序"); }
QString SerialDownloadHost::PortTestHolderName() { return QCoreApplication::translate("SerialDownloadHost", "串口检测"); }

bool SerialDownloadHost::ClaimPort(const QString& port, const QString& holder, QString* refusal) {
    // No port named: nothing to claim (the open says why it cannot).
    if (port.isEmpty()) return true;
    if (!ClaimedPort.isEmpty() && ClaimedFor != holder) {
        if (refusal) *refusal = portBusyText(ClaimedPort, ClaimedFor);
        return false;
    }
    const QString key = DeviceFactory().claimKey(port);
    QString heldBy;
    if (!claimPort(key, this, holder, &heldBy)) {
        if (refusal) *refusal = portBusyText(port, heldBy);
        return false;
    }
    if (!ClaimedKey.isEmpty() && ClaimedKey != key) releasePort(ClaimedKey, this);
    ClaimedPort = port;
    ClaimedKey = key;
    ClaimedFor = holder;
    return true;
}

void SerialDownloadHost::ReleaseClaim() {
    if (ClaimedKey.isEmpty()) return;
    releasePort(ClaimedKey, this);
    ClaimedPort.clear();
    ClaimedKey.clear();
    ClaimedFor.clear();
}

// ---------------------------------------------------------------------------
// One download

protocol::DownloadReport SerialDownloadHost::Run(
    const QString& port, const std::function<protocol::DownloadReport(protocol::DownloadHost&)>& protocol) {
    protocol::DownloadReport report;
    // A port that the port test or the terminal holds is refused before the
    // channel or the port is touched.
    QString refusal;
    if (!ClaimPort(port, DownloadHolderName(), &refusal)) {
        if (Reports.log) Reports.log(refusal);
        report.failure = refusal;
        return report;
    }
    // The download keeps the port it starts with.
    Port = port;
    InDownload = true;
    ReceivedBytes.clear();
    DownloadLogLines.clear();
    CancelRequested = false;
    Link->PortTestMode.store(false);
    TickEnabled = false;
    PortOpenAllowed = true;
    TickCount = 0;

    // Without the tick no wait could ever time out: a tick that cannot be
    // started stops the download before it talks to a chip.
    QString tickError;
    if (!StartTickTimer(&tickError)) {
        Log(QCoreApplication::translate("SerialDownloadHost", "错误：无法启动100毫秒计时器，下载未开始（%1）").arg(tickError));
        report.failure = DownloadLogLines.last();
        InDownload = false;
        ReleaseClaim();
        return report;
    }
    report = protocol(*this);
    if (!report.success) report.failure = CancelRequested.load() ? QCoreApplication::translate("SerialDownloadHost", "下载已取消") : FailureLine();

    StopChannel();
    KillTickTimer();
    InDownload = false;
    ReleaseClaim();
    return report;
}

QString SerialDownloadHost::FailureLine() const {
    // A port that went away is what happened, whatever the protocol logged
    // after it (the stage that could not finish).
    const QString portLost = protocol::PortLostText(PortName());
    if (DownloadLogLines.contains(portLost)) return portLost;
    for (auto it = DownloadLogLines.crbegin(); it != DownloadLogLines.crend(); ++it) {
        // The checklists (the connect one also with the holders' line before it).
        if (it->trimmed().isEmpty() || it->endsWith(protocol::ConnectDiagnosisText()) || *it == PortDiagnosis()) continue;
        return *it;
    }
    return {};
}

void SerialDownloadHost::RequestCancel() {
    CancelRequested = true;
    if (CancelBell) CancelBell->notify();
}

void SerialDownloadHost::EndDownload() {
    TickCount = 0;
    TickEnabled = false;
    SyncTimer.stop();
    StopChannel();
    Progress(0);
    if (Reports.idle) Reports.idle();
    KillTickTimer();
}

// ---------------------------------------------------------------------------
// Reporting

void SerialDownloadHost::Log(const QString& line) {
    if (InDownload) DownloadLogLines << line;
    if (Reports.log) Reports.log(line);
}

void SerialDownloadHost::Progress(int position) {
    if (Reports.progress) Reports.progress(position);
}

void SerialDownloadHost::ShowMessage(const QString& text, const QString& caption, MsgIcon icon) {
    if (Reports.message) Reports.message(text, caption, icon);
}

void SerialDownloadHost::Message(const QString& text) { ShowMessage(text, QString(), MsgIcon::None); }

QString SerialDownloadHost::PortHoldersLine(const QString& port, const std::vector<PortHolder>& holders) {
    if (holders.empty()) return {};
    QStringList named;
    for (const PortHolder& h : holders) {
        QString command = h.command;
        if (command.size() > kMaxCommandChars) command = command.left(kMaxCommandChars - 1) + QChar(0x2026);
        named << QCoreApplication::translate("SerialDownloadHost", "进程 %1（%2）").arg(h.pid).arg(command);
    }
    return QCoreApplication::translate("SerialDownloadHost", "串口 %1 正被其他程序打开：%2。它会读走芯片的应答，请先关闭它再下载")
        .arg(port, named.join(QCoreApplication::translate("SerialDownloadHost", "、")));
}

QString SerialDownloadHost::ConnectDiagnosis() const {
    const QString checklist = protocol::ConnectDiagnosisText();
    // A simulated chip has no device that others could hold.
    if (Port.isEmpty() || Port.startsWith(QLatin1String(kSimPortPrefix))) return checklist;
    const QString line =
        PortHoldersLine(Port, findPortHolders(SystemSerialDeviceFactory::resolve(Port, Services.devRoot)));
    return line.isEmpty() ? checklist : line + QStringLiteral("\r\n") + checklist;
}
QString SerialDownloadHost::PortDiagnosis() const { return protocol::PortDiagnosisText(); }

// ---------------------------------------------------------------------------
// The port

SerialDeviceFactory& SerialDownloadHost::DeviceFactory() {
    if (!Devices)
        Devices = Services.devices ? Services.devices : std::make_shared<SystemSerialDeviceFactory>(Services.devRoot);
    return *Devices;
}

void SerialDownloadHost::PrepareChannel() {
    Link->setDeviceFactory(&DeviceFactory());
    Link->setNotifyTarget(this);
    Link->setMessageSink([this](const QString& text) { ShowMessage(text, AppTitle(), MsgIcon::Warning); });
}

bool SerialDownloadHost::OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) {
    if (!PortOpenAllowed) return true;
    PrepareChannel();
    if (Link->Open(Port, baud, parity, 8, 0, eventChar)) return true;

    const DeviceStatus why = Link->LastError();
    QString text = QCoreApplication::translate("SerialDownloadHost", "%1口不能打开,把USB拔了重试！\n  \n     具体请参考《故障诊断》").arg(Port);
    text += QCoreApplication::translate("SerialDownloadHost", "\n原因：%1").arg(why.explainOpenFailure(Port));
    ShowMessage(text, QCoreApplication::translate("SerialDownloadHost", "串口提示：—不能打开串口"), MsgIcon::Warning);
    PortOpenAllowed = false;
    return false;
}

bool SerialDownloadHost::OpenPortNamed(const QString& port, uint32_t baud, uint8_t parity, uint8_t eventChar) {
    // The channel is the download's while one runs, whichever port is asked for.
    QString& refusal = NamedOpenRefusal;
    refusal.clear();
    if (InDownload) refusal = portBusyText(Port, DownloadHolderName());
    if (!refusal.isEmpty() || !ClaimPort(port, PortTestHolderName(), &refusal)) {
        ShowMessage(refusal, AppTitle(), MsgIcon::Warning);
        return false;
    }
    Port = port;
    PortOpenAllowed = true;
    if (OpenPort(baud, parity, eventChar)) return true;
    ReleaseClaim();
    return false;
}

void SerialDownloadHost::ReleasePortNamed() {
    if (ClaimedFor == PortTestHolderName()) ReleaseClaim();
}

void SerialDownloadHost::ClosePort() {
    AwaitLineFree();
    PortOpenAllowed = false;
    if (Link->Close() == 0) ShowMessage(QCoreApplication::translate("SerialDownloadHost", "关闭串口失败"), QString(), MsgIcon::None);
    PortOpenAllowed = true;
}

bool SerialDownloadHost::ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    AwaitLineFree();
    if (Link->Configure(baud, parity, 8, 0, eventChar)) return true;
    if (reason) *reason = Link->LastError().describe();
    return false;
}

void SerialDownloadHost::StopChannel() { Link->Stop(); }
void SerialDownloadHost::StartReader() { Link->StartReader(); }
bool SerialDownloadHost::SetRts(bool on) { return Link->SetRts(on); }
bool SerialDownloadHost::SetDtr(bool on) { return Link->SetDtr(on); }
void SerialDownloadHost::SetReplyDelay(int ms) { Link->ReplyDelayMs = ms; }

// ---------------------------------------------------------------------------
// Bytes

bool SerialDownloadHost::Send(const QByteArray& bytes, bool keepReceived) {
    if (!keepReceived) ForgetReceived();
    return WriteToLine(bytes);
}

bool SerialDownloadHost::WriteToLine(const QByteArray& bytes) {
    const auto now = std::chrono::steady_clock::now();
    const auto wire = Link->Settings().charTime() * static_cast<long>(bytes.size());
    const bool issued =
        Link->Write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())) == 1;
    if (issued) LineFreeAt = std::max(LineFreeAt, now) + wire;
    return issued;
}

void SerialDownloadHost::AwaitLineFree() {
    const auto until = LineFreeAt + std::chrono::milliseconds(protocol::kLineSettleMarginMs);
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return;
    // Served like a pause; a stop meanwhile is seen by the next wait.
    Pause(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

void SerialDownloadHost::ForgetReceived() {
    // Bytes the port still holds are as old as those received.
    QByteArray scratch;
    while (Link->QueuedBytes() > 0 && Link->ReadNow(scratch, SerialChannel::kQueueSize) > 0) {}
    ReceivedBytes.clear();
}

void SerialDownloadHost::OnSerialData() {
    const unsigned n = Link->Read(ReceiveBuffer, SerialChannel::kQueueSize);
    ReceivedBytes.append(ReceiveBuffer.constData(), static_cast<qsizetype>(n));
    LastPortRead = std::chrono::steady_clock::now();
}

void SerialDownloadHost::PollPort(bool now) {
    const auto t = std::chrono::steady_clock::now();
    if (!now && t - LastPortRead < kPortPollInterval) return;
    LastPortRead = t;
    if (Link->QueuedBytes() == 0) return;
    const unsigned n = Link->ReadNow(ReceiveBuffer, SerialChannel::kQueueSize);
    ReceivedBytes.append(ReceiveBuffer.constData(), static_cast<qsizetype>(n));
}

bool SerialDownloadHost::event(QEvent* e) {
    if (e->type() == WM_SERIAL_DATA) {
        OnSerialData();
        return true;
    }
    return QObject::event(e);
}

// ---------------------------------------------------------------------------
// Time

void SerialDownloadHost::TickTimerProc() {
    if (TickEnabled.load()) TickCount.fetch_add(1);
}

bool SerialDownloadHost::StartTickTimer(QString* error) {
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    TickTimerId = Services.ticks->start(
        kTickPeriodMs,
        [this, dispatcher] {
            TickTimerProc();
            // The tick is counted before the pump wakes up to look at it.
            if (dispatcher) dispatcher->wakeUp();
        },
        error);
    return TickTimerId != 0;
}

void SerialDownloadHost::KillTickTimer() {
    if (TickTimerId != 0) {
        Services.ticks->stop(TickTimerId);
        TickTimerId = 0;
    }
}

void SerialDownloadHost::ResetTicks() {
    TickCount = 0;
    TickEnabled = false;
}

bool SerialDownloadHost::PumpMessages() {
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher) return false;
    if (dispatcher->processEvents(QEventLoop::AllEvents)) return true;
    // Nothing was queued: sleep until the next event or tick.  The tick
    // thread wakes the dispatcher every 100 ms; without a running tick (a
    // wait outside a download) sleep a short while instead.
    if (TickTimerId != 0 && Services.ticks->running(TickTimerId)) {
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } else {
        QThread::msleep(kIdlePumpSleepMs);
        dispatcher->processEvents(QEventLoop::AllEvents);
    }
    return false;
}

WaitResult SerialDownloadHost::Wait(int tickLimit, const protocol::ReplyJudge& judge) {
    TickEnabled = true;
    // Every arrival wakes this loop, which takes the bytes at once: the reply
    // is seen as soon as its last byte is in, not after a reply delay or at
    // the next poll.  The judge decides when it is complete.
    struct ArrivalWatch {
        SerialChannel& channel;
        explicit ArrivalWatch(SerialChannel& c) : channel(c) { channel.SetArrivalWatch(true); }
        ~ArrivalWatch() { channel.SetArrivalWatch(false); }
    } watch(*Link);
    for (;;) {
        PollPort(true);
        if (judge && judge(ReceivedBytes)) return WaitResult::Replied;
        if (CancelRequested.load()) return WaitResult::Cancelled;
        if (Link->DeviceLost()) {
            // What arrived before the device went away still counts.
            PollPort(true);
            if (judge && judge(ReceivedBytes)) return WaitResult::Replied;
            return WaitResult::PortLost;
        }
        if (TickCount.load() > tickLimit) return WaitResult::TimedOut;
        PumpMessages();
    }
}

bool SerialDownloadHost::Pause(int ms) {
    // A timer wakes the pump at the end of the pause.
    bool over = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&over] { over = true; });
    timer.start(ms);
    while (!over && !CancelRequested.load()) {
        QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
        if (!dispatcher) {
            QThread::msleep(static_cast<unsigned long>(ms));
            break;
        }
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    PollPort(false);
    return !CancelRequested.load();
}

} // namespace talvo
