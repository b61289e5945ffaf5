#pragma once
// The main window's logic without its widgets: it owns every piece of state a
// download needs, initialises the controls, saves and restores the settings,
// runs the download command and the waiting machinery on which every protocol
// step rests.  It talks to a person only through a FrontPanel.
//
// It lives on the user-interface thread.  Worker threads (serial reader, tick,
// port watch, folder watch) share only atomics with it and post events to it.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/FrontPanel.h"
#include "image/FirmwareImage.h"
#include "protocol/DownloadHost.h"

namespace talvo {

class SettingsStore;
class TickSource;
class SerialChannel;
class PortWatch;
class FolderWatch;
class ThreadNotifier;
class SerialDeviceFactory;
class PortTestLink;

// What the core needs from the operating system; every member may be
// replaced by tests.  Null members take the platform's defaults.
struct CoreServices {
    SettingsStore* settings = nullptr;
    TickSource* ticks = nullptr;
    std::function<QDateTime()> clock;      // local time for the status bar clock
    QString sysfsRoot;                     // "" = /sys
    QString devRoot;                       // "" = /dev
    QStringList extraPorts;                // entries given with --port on the command line
};

// The core is also the download host of the protocols: it gives them the
// serial channel, the tick and the log through protocol::DownloadHost.
class MainWindowCore : public QObject, public protocol::DownloadHost {
    Q_OBJECT
public:
    explicit MainWindowCore(FrontPanel& panel, CoreServices services = {}, QObject* parent = nullptr);
    ~MainWindowCore() override;

    FrontPanel& panel() { return Panel; }

    // ---- Start-up and close -------------------------------------------------
    // Initialisation of the window's controls and state, in the window's fixed
    // order; returns true (the front end sets the focus).
    bool Initialise();
    // Close: stop the channel and the port watch, save, end with exit code 0.
    void OnCloseWindow();

    // ---- Download command and waiting machinery -----------------------------
    void StartDownload();
    // Dispatches the queued events; when none is queued it sleeps until the
    // next event or tick.  Sets TimedOut when an event was dispatched after
    // TickCount passed 32.  Returns the number of events dispatched.
    int PumpMessages();
    void EndDownload() override;
    // The periodic tick (timer thread).  Message 74 is the initialisation call:
    // data1 points to {address of TickCount, address of TickEnabled}.
    static void TickTimerProc(unsigned timerId, unsigned message, uintptr_t user, uintptr_t data1,
                              uintptr_t data2);
    struct TickTargets {
        std::atomic<int>* count;
        std::atomic<bool>* enabled;
    };

    // ---- Status log, progress, clock -------------------------------------------
    void AppendLog(const QString& line);
    void SetProgress(int position);
    void ShowClock();
    static QString FormatClock(const QDateTime& local);

    // ---- Settings and small handlers --------------------------------------------
    bool LoadSettings();
    void SaveSettings();
    void OnPortSelected();
    void OnSpeedMode(bool lowSpeed) { LowSpeedMode = lowSpeed; }
    // CB_FINDSTRING: the first item from `startAt` on (wrapping round) that
    // begins with `prefix`, compared without regard to case; -1 when none.
    static int FindPrefix(const QStringList& items, const QString& prefix, int startAt);
    int SelectedChipType() const;
    // The image layout of the selected chip type.
    ChipFamily ImageFamily() const;
    // Selects the port list entry of `device` (a device path, a name under
    // the device root, "sim:..."); false when no entry has it.
    bool SelectPort(const QString& device);

    // ---- Serial link and port list ------------------------------------------
    // Opens the current port (during a download: the port the download
    // started with) at 8 data bits, one stop bit; shows why when it cannot.
    bool OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) override;
    void ClosePort() override;
    void SendHexText(const QString& text);
    void OnSerialData();
    void StopChannel();
    void RefreshPortList();
    void StartPortWatch();
    void StopPortWatch();
    bool CheckDriverCompatibility();

    // ---- Firmware image ------------------------------------------------------------
    bool LoadFirmware(const QString& path, const QString& fileName);
    // The one log line with which a download stops when its firmware could
    // not be loaded (names the file and the reason).
    QString FirmwareLoadFailedLine() const;
    QString LastLoadError;
    // The open-file dialog's filter in Qt's syntax.
    static QString FirmwareFileFilter();
    void BuildBlockTexts();
    void OpenFirmwareFile();

    // ---- Protocol branches -----------------------------------------------------------
    void RunStcDownload();
    void DownloadStm32();
    // What the last download came to (success, chip, crystal, rate, bytes,
    // the line that names a failure).
    const protocol::DownloadReport& LastReport() const { return Report; }
    // Stops a running download at its next wait (any thread, also a signal
    // handler: it only sets a flag and rings the bell).
    void RequestCancel();

    // ---- protocol::DownloadHost (the rest of it) -------------------------------------
    bool ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override;
    void StartReader() override;
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    void SetReplyDelay(int ms) override;
    QString PortName() const override;
    bool Send(const QByteArray& bytes, bool keepReceived = false) override;
    QByteArray Received() const override { return ReceivedBytes; }
    void ForgetReceived() override;
    void StartSync() override;
    void StopSync() override;
    void ResetTicks() override;
    int Ticks() const override { return TickCount.load(); }
    protocol::WaitResult Wait(int tickLimit, const protocol::ReplyJudge& judge) override;
    bool Pause(int ms) override;
    void Log(const QString& line) override { AppendLog(line); }
    void Progress(int position) override { SetProgress(position); }
    void Message(const QString& text) override;
    QString ConnectDiagnosis() const override { return ConnectDiagnosisText; }
    QString PortDiagnosis() const override { return PortDiagnosisText; }

    // ---- Download state (shared with the tick thread where atomic) -----------
    std::atomic<int> TickCount{0};
    std::atomic<bool> TickEnabled{false};
    unsigned TickTimerId = 0;
    static std::atomic<bool> TimedOut;     // process-wide
    bool PortOpenAllowed = false;
    std::atomic<bool> FileChanged{false};
    bool LowSpeedMode = false;
    bool Downloading = false;               // between step 4 and step 9 of StartDownload

    // ---- Current file and image ------------------------------------------------------
    QString FirmwarePath;
    QString FirmwareName;
    QString FirmwareFolder;
    QByteArray ImageBytes;
    int ImageSize = 0;
    std::vector<QString> BlockTexts = std::vector<QString>(1024);
    int BlockCount = 0;

    // ---- Serial receive state ---------------------------------------------------------
    QByteArray ReceiveBuffer = QByteArray(1024, '\0');
    QString CurrentPort;                    // device of the selected entry ("" = none)
    QString DriverFileName;

    // ---- Serial link (shared_ptr: destroyed without their headers here) --------
    static std::shared_ptr<SerialChannel> MakeSerialChannel();
    std::shared_ptr<SerialChannel> Channel = MakeSerialChannel();
    std::shared_ptr<PortWatch> PortWatcher;
    std::shared_ptr<SerialDeviceFactory> SerialDevices; // opens names under the device root
    QStringList PortEntries;                // the entries of the last port list refresh
    QStringList PortDevices;                // the device of each of those entries, by position
    QString DriverVersion;                  // driver version text, rewritten by ReadDriverVersion
    void ReadDriverVersion();
    // Points the channel at this window and at the device root before it opens.
    void PrepareChannel();

    // ---- Troubleshooting texts ---------------------------------------------------------
    QString ConnectDiagnosisText;
    QString PortDiagnosisText;

    // Window timer 2 of the STC handshake.
    QTimer SyncTimer;

    // The application's title: the caption of message boxes.
    static QString AppTitle();
    // The prompt shown in the file box before a file was chosen.
    static QString FilePrompt();

    // The 100 ms tick of a download (the periodic timer of StartDownload's
    // step 7, killed by step 9 and by EndDownload).  Its ticks wake the pump.
    bool StartTickTimer();
    void KillTickTimer();

    // ---- Accessories: port test link and the STM32 verify setting -----------
    // The port loopback test's link over this window's channel: it opens the
    // current port through OpenPort (with PortOpenAllowed set, and OpenPort's
    // message box on failure).
    PortTestLink& PortTestChannel();
    // "校验STM32下载": the STM32 download reads it; saved under "VerifyStm32"
    // (default off), read at start, written at once when toggled.
    bool VerifyStm32() const { return VerifyStm32Flag; }
    void SetVerifyStm32(bool on);

protected:
    bool event(QEvent* e) override;

private:
    void SetTroubleshootingTexts();
    // Takes what the port holds into the received bytes at once, when the
    // reader has not handed it on within a tick (a reply split over reads, or
    // bytes without the event character).
    void PollPort(bool now);

    // The last line of the download's log that names what happened (the
    // troubleshooting texts left out).
    QString LastFailureLine() const;
    QStringList DownloadLogLines;           // the lines of the current download's log

    // The download's own state.
    QString DownloadPort;                   // the port the download started with
    QByteArray ReceivedBytes;               // since the last Send / ForgetReceived
    std::chrono::steady_clock::time_point LastPortRead{};
    std::atomic<bool> CancelRequested{false};
    protocol::DownloadReport Report;
    std::unique_ptr<ThreadNotifier> CancelBell;

    void LoadAccessorySettings();
    bool VerifyStm32Flag = false;
    std::shared_ptr<PortTestLink> PortTestLinkImpl;

    QString LastTickError;

    FrontPanel& Panel;
    CoreServices Services;
    std::unique_ptr<SettingsStore> OwnedSettings;
    std::unique_ptr<TickSource> OwnedTicks;

    // Failures reported by folder watch threads, waiting to be logged on this
    // object's thread; the bell rings it.  Declared before the watches, so they
    // outlive every watch thread.
    void LogWatchFailures();
    std::mutex WatchFailureMutex;
    QStringList WatchFailureLines;
    std::unique_ptr<ThreadNotifier> WatchFailureBell;

public:
    // One folder watch per firmware folder chosen (shared_ptr: destroyed
    // without its header here).  Declared last, so the watch threads end
    // before FileChanged goes.
    std::vector<std::shared_ptr<FolderWatch>> FolderWatches;
};

} // namespace talvo
