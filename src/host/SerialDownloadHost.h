#pragma once
// The download host over a serial channel: what the protocols talk through
// (protocol::DownloadHost) on a real port or a "sim:" board, in real time.
// It owns one SerialChannel with its reader thread, the 100 ms tick of a
// download, the STC sync stream and the stop of a running download; it
// tells a person what happens through the reports its owner gives it (the
// window's log box, progress bar, message boxes and download buttons; the
// command line's standard output and error).
//
// It lives on the thread that made it.  While a protocol waits, the host
// serves that thread's events (the window stays responsive), and sleeps
// between them: the reader's hand-over, every arrival while a wait watches
// for its reply, and each tick wake it.  The reader and the tick thread
// share only atomics of this host with it; several hosts work side by side
// in one process, each on its own thread or all on one.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "panel/FrontPanel.h"
#include "protocol/DownloadHost.h"

namespace talvo {

class SerialChannel;
class SerialDeviceFactory;
class ThreadNotifier;
class TickSource;
struct PortHolder;

// What the host tells a person; empty members say nothing.
struct HostReports {
    std::function<void(const QString& line)> log;
    std::function<void(int position)> progress;       // 0 to 1024
    std::function<void(const QString& text, const QString& caption, MsgIcon icon)> message;
    // The download has ended early (EndDownload): the controls that start
    // one are usable again.
    std::function<void()> idle;
};

// What the host needs from the operating system; null members take the
// platform's defaults.
struct HostServices {
    TickSource* ticks = nullptr;                     // the 100 ms tick
    std::shared_ptr<SerialDeviceFactory> devices;    // opens the ports by name
    QString devRoot;                                 // where bare port names live ("" = /dev)
};

class SerialDownloadHost : public QObject, public protocol::DownloadHost {
    Q_OBJECT
public:
    explicit SerialDownloadHost(HostReports reports, HostServices services = {}, QObject* parent = nullptr);
    ~SerialDownloadHost() override;

    // ---- One download --------------------------------------------------------------
    // Runs `protocol` on `port`: forgets what was received and any earlier
    // stop, allows the port to open, starts the 100 ms tick, runs it, and
    // whatever happened stops the channel and the tick.  A tick that cannot
    // start stops the download before it talks to a chip, with one log line.
    // The report's failure is the line that names what went wrong.
    protocol::DownloadReport Run(const QString& port,
                                 const std::function<protocol::DownloadReport(protocol::DownloadHost&)>& protocol);
    // Between the start of Run and its end.
    bool Downloading() const { return InDownload; }
    // Stops a running download at its next wait (any thread, also a signal
    // handler: it only sets a flag and rings the bell).
    void RequestCancel();

    // ---- Outside a download: the port test's way to the port ------------------------
    // Opens `port` as OpenPort does (with its message when it cannot), for the
    // port test: refused with a message naming the port and its holder while
    // this host downloads or anyone else in the process holds the port.  The
    // port stays claimed for the port test until ReleasePortNamed().
    bool OpenPortNamed(const QString& port, uint32_t baud, uint8_t parity, uint8_t eventChar);
    void ReleasePortNamed();
    // Why the last OpenPortNamed was refused without touching the port (the
    // port's holder), "" when it was not.
    QString OpenRefusal() const { return NamedOpenRefusal; }
    // What a download and the port test are called in a refusal.
    static QString DownloadHolderName();
    static QString PortTestHolderName();
    // The channel, for the port test that shares it and for a look at it.
    SerialChannel& Channel() { return *Link; }
    const SerialChannel& Channel() const { return *Link; }
    // Stops the channel (reader ended, port closed).
    void StopChannel();

    // ---- The waiting machinery -----------------------------------------------------
    // Dispatches the queued events; when none was queued it sleeps until the
    // next event or tick.  Whether anything was dispatched at first.
    bool PumpMessages();
    // The 100 ms tick of a download (Run starts and kills it): its ticks
    // count while counting is on and wake the pump.
    bool StartTickTimer(QString* error = nullptr);
    void KillTickTimer();
    bool TickTimerRunning() const { return TickTimerId != 0; }
    // Starts the ticks counting, as a wait does; ResetTicks() stops them.
    void StartTickCount() { TickEnabled = true; }
    bool IsSyncing() const { return SyncTimer.isActive(); }

    // ---- protocol::DownloadHost --------------------------------------------------------
    // OpenPort uses the download's port, 8 data bits, one stop bit; it shows
    // why when the port cannot be opened, and then does nothing until the
    // next download (or OpenPortNamed) allows it again.
    bool OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) override;
    void ClosePort() override;
    bool ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override;
    void StartReader() override;
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    void SetReplyDelay(int ms) override;
    QString PortName() const override { return Port; }
    bool Send(const QByteArray& bytes, bool keepReceived = false) override;
    QByteArray Received() const override { return ReceivedBytes; }
    void ForgetReceived() override;
    void StartSync() override { SyncTimer.start(); }
    void StopSync() override { SyncTimer.stop(); }
    void ResetTicks() override;
    int Ticks() const override { return TickCount.load(); }
    protocol::WaitResult Wait(int tickLimit, const protocol::ReplyJudge& judge) override;
    bool Pause(int ms) override;
    void EndDownload() override;
    void Log(const QString& line) override;
    void Progress(int position) override;
    void Message(const QString& text) override;
    // The checklist, after one line that names the other processes holding
    // the download's port open when there are any (a tty has no lock: such a
    // program takes the chip's answers).
    QString ConnectDiagnosis() const override;
    QString PortDiagnosis() const override;
    // That line for `holders` of `port` ("" when there are none).
    static QString PortHoldersLine(const QString& port, const std::vector<PortHolder>& holders);

protected:
    bool event(QEvent* e) override;

private:
    // WM_SERIAL_DATA: what the port holds, after the reply delay; a reply may
    // come in several chunks, and the protocol assembles it from all of them.
    void OnSerialData();
    // The tick thread's call: one more tick while counting is on.
    void TickTimerProc();
    // What opens the ports (made at the first use).
    SerialDeviceFactory& DeviceFactory();
    // Points the channel at this host and at the device root before it opens.
    void PrepareChannel();
    // Takes what the port holds into the received bytes at once, when the
    // reader has not handed it on within a tick (a reply split over reads, or
    // bytes without the event character).
    void PollPort(bool now);
    // Writes `bytes` to the channel, noting when they will have left the
    // converter at the line's rate; true when the write was issued.
    bool WriteToLine(const QByteArray& bytes);
    // Serves the program until what was written last has left the converter
    // (plus the margin): before a close or a new rate.
    void AwaitLineFree();
    void ShowMessage(const QString& text, const QString& caption, MsgIcon icon);
    // Claims `port` in the process's table of ports in use for `holder`; the
    // host holds one claim at a time, so the port test cannot take its
    // channel from a download, nor a download from the port test.  On
    // refusal *refusal names the port and its holder.
    bool ClaimPort(const QString& port, const QString& holder, QString* refusal);
    void ReleaseClaim();
    // The line of the download's log that names what happened: the port-lost
    // line when the port went away, else the last line (the troubleshooting
    // texts left out).
    QString FailureLine() const;

    HostReports Reports;
    HostServices Services;
    std::unique_ptr<TickSource> OwnedTicks;
    std::shared_ptr<SerialDeviceFactory> Devices;
    std::unique_ptr<SerialChannel> Link;

    QString Port;                           // the port of the download (or of OpenPortNamed)
    QString ClaimedPort;                    // the port this host has claimed ("" = none)
    QString ClaimedKey;                     // its key in the claims
    QString ClaimedFor;                     // and for whom
    QString NamedOpenRefusal;
    bool InDownload = false;
    bool PortOpenAllowed = false;
    QByteArray ReceivedBytes;               // since the last Send / ForgetReceived
    QByteArray ReceiveBuffer;               // what each read of the port goes through
    std::chrono::steady_clock::time_point LastPortRead{};
    // When the last byte written will have left the converter, counted from
    // each write at the line's rate (a write waits behind the one before).
    std::chrono::steady_clock::time_point LineFreeAt{};
    QStringList DownloadLogLines;           // what the current download logged

    // Shared with the tick thread.
    std::atomic<int> TickCount{0};
    std::atomic<bool> TickEnabled{false};
    unsigned TickTimerId = 0;
    // Shared with whoever stops the download.
    std::atomic<bool> CancelRequested{false};
    std::unique_ptr<ThreadNotifier> CancelBell;

    // Window timer 2 of the STC handshake: the sync pair every 14 ms.
    QTimer SyncTimer;
};

} // namespace talvo
