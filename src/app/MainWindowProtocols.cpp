// The two protocol branches of a download, and the download host the
// protocols talk through: the serial channel, its reader and the 100 ms tick,
// with the window's events served while a protocol waits.
#include "app/MainWindowCore.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <QTimer>

#include "app/ControlIds.h"
#include "platform/ThreadNotifier.h"
#include "protocol/CMcuType.h"
#include "protocol/ChipTypes.h"
#include "protocol/Diagnosis.h"
#include "protocol/Stm32Download.h"
#include "serial/HexText.h"
#include "serial/PortList.h"
#include "serial/SerialChannel.h"

namespace talvo {

using protocol::WaitResult;

static_assert(kStm32FlashStart == protocol::kStm32FlashBase);

namespace {
// Bytes that the reader did not hand on within this time are taken at once.
constexpr auto kPortPollInterval = std::chrono::milliseconds(100);
} // namespace

// ---------------------------------------------------------------------------
// Branches

void MainWindowCore::RunStcDownload() {
    protocol::StcOptions options;
    options.chipType = SelectedChipType();
    options.lowSpeed = LowSpeedMode;
    // A Prolific converter whose driver fails the check gets the other
    // parameter in the rate switch.
    const int portIndex = Panel.currentIndex(ctl::PortList);
    const QStringList entries = Panel.items(ctl::PortList);
    const QString entry = portIndex >= 0 && portIndex < entries.size() ? entries[portIndex] : QString();
    options.driverParameter =
        isProlificEntry(entry) && !CheckDriverCompatibility() ? QStringLiteral("80") : QStringLiteral("28");
    for (int i = 1; i <= BlockCount && i < static_cast<int>(BlockTexts.size()); ++i)
        options.blocks.push_back(hexTextToBytes(BlockTexts[static_cast<size_t>(i)]));
    options.imageBytes = ImageSize;
    protocol::CMcuType mcu(*this, std::move(options));
    Report = mcu.RunStcDownload();
}

void MainWindowCore::DownloadStm32() {
    Report = protocol::DownloadStm32(*this, {ImageBytes.left(ImageSize), VerifyStm32(), ImageAddress});
}

QString MainWindowCore::LastFailureLine() const {
    // A port that went away is what happened, whatever the protocol logged
    // after it (the stage that could not finish).
    const QString portLost = protocol::PortLostText(PortName());
    if (DownloadLogLines.contains(portLost)) return portLost;
    for (auto it = DownloadLogLines.crbegin(); it != DownloadLogLines.crend(); ++it) {
        // The checklists (the connect one also with the holders' line before it).
        if (it->trimmed().isEmpty() || it->endsWith(ConnectDiagnosisText) || *it == PortDiagnosisText) continue;
        return *it;
    }
    return {};
}

void MainWindowCore::RequestCancel() {
    CancelRequested = true;
    if (CancelBell) CancelBell->notify();
}

// ---------------------------------------------------------------------------
// The download host

bool MainWindowCore::ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    AwaitLineFree();
    if (Channel->Configure(baud, parity, 8, 0, eventChar)) return true;
    if (reason) *reason = Channel->LastError().describe();
    return false;
}

void MainWindowCore::StartReader() { Channel->StartReader(); }
bool MainWindowCore::SetRts(bool on) { return Channel->SetRts(on); }
bool MainWindowCore::SetDtr(bool on) { return Channel->SetDtr(on); }
void MainWindowCore::SetReplyDelay(int ms) { SerialChannel::ReplyDelayMs = ms; }
QString MainWindowCore::PortName() const { return Downloading ? DownloadPort : CurrentPort; }

bool MainWindowCore::Send(const QByteArray& bytes, bool keepReceived) {
    if (!keepReceived) ForgetReceived();
    return WriteToLine(bytes) == 1;
}

int MainWindowCore::WriteToLine(const QByteArray& bytes) {
    const auto now = std::chrono::steady_clock::now();
    const auto wire = Channel->Settings().charTime() * static_cast<long>(bytes.size());
    const int issued =
        Channel->Write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    if (issued == 1) LineFreeAt = std::max(LineFreeAt, now) + wire;
    return issued;
}

void MainWindowCore::AwaitLineFree() {
    const auto until = LineFreeAt + std::chrono::milliseconds(protocol::kLineSettleMarginMs);
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return;
    // Served like a pause; a stop meanwhile is seen by the next wait.
    Pause(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

void MainWindowCore::ForgetReceived() {
    // Bytes the port still holds are as old as those received.
    QByteArray scratch;
    while (Channel->QueuedBytes() > 0 && Channel->ReadNow(scratch, SerialChannel::kQueueSize) > 0) {}
    ReceivedBytes.clear();
}

void MainWindowCore::StartSync() { SyncTimer.start(); }
void MainWindowCore::StopSync() { SyncTimer.stop(); }

void MainWindowCore::ResetTicks() {
    TickCount = 0;
    TickEnabled = false;
}

void MainWindowCore::PollPort(bool now) {
    const auto t = std::chrono::steady_clock::now();
    if (!now && t - LastPortRead < kPortPollInterval) return;
    LastPortRead = t;
    if (Channel->QueuedBytes() == 0) return;
    const unsigned n = Channel->ReadNow(ReceiveBuffer, SerialChannel::kQueueSize);
    ReceivedBytes.append(ReceiveBuffer.constData(), static_cast<qsizetype>(n));
}

WaitResult MainWindowCore::Wait(int tickLimit, const protocol::ReplyJudge& judge) {
    TickEnabled = true;
    // Every arrival wakes this loop, which takes the bytes at once: the reply
    // is seen as soon as its last byte is in, not after a reply delay or at
    // the next poll.  The judge decides when it is complete.
    struct ArrivalWatch {
        SerialChannel& channel;
        explicit ArrivalWatch(SerialChannel& c) : channel(c) { channel.SetArrivalWatch(true); }
        ~ArrivalWatch() { channel.SetArrivalWatch(false); }
    } watch(*Channel);
    for (;;) {
        PollPort(true);
        if (judge && judge(ReceivedBytes)) return WaitResult::Replied;
        if (CancelRequested.load()) return WaitResult::Cancelled;
        if (Channel->DeviceLost()) {
            // What arrived before the device went away still counts.
            PollPort(true);
            if (judge && judge(ReceivedBytes)) return WaitResult::Replied;
            return WaitResult::PortLost;
        }
        if (TickCount.load() > tickLimit) return WaitResult::TimedOut;
        PumpMessages();
    }
}

bool MainWindowCore::Pause(int ms) {
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

void MainWindowCore::Message(const QString& text) { Panel.messageBox(text, QString(), MsgIcon::None); }

} // namespace talvo
