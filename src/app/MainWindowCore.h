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
#include "platform/PortHolders.h"
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
    // Opens the ports by name; null = the devices under devRoot (and "sim:...").
    std::shared_ptr<SerialDeviceFactory> devices;
};

// The core is also the download host of the protocols: it gives them the
// serial channel, the tick and the log through protocol::DownloadHost.
//
// Its state is its own: front ends and tests change it through the window's
// operations (choosing a file, selecting a port, the speed mode, a download)
// and read it through the views below.
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
    // The same download of an image its caller has read (the command line
    // reads its file once): no file is read, reloaded or watched, and the
    // folder-change line is not logged.  `source` names the image where the
    // file's path would stand (the file box, the line that stops a download
    // whose image does not fit the chip type).
    void StartDownload(const LoadedImage& image, const QString& source);
    // Between the start of a download (buttons disabled) and its end.
    bool IsDownloading() const { return Downloading; }
    // Dispatches the queued events; when none is queued it sleeps until the
    // next event or tick.  Returns the number of events dispatched.
    int PumpMessages();
    void EndDownload() override;
    // The periodic tick (timer thread).  Message 74 is the initialisation call:
    // data1 points to {address of a tick counter, address of its enable flag}.
    static void TickTimerProc(unsigned timerId, unsigned message, uintptr_t user, uintptr_t data1,
                              uintptr_t data2);
    struct TickTargets {
        std::atomic<int>* count;
        std::atomic<bool>* enabled;
    };
    // The 100 ms tick of a download (StartDownload's steps 6 and 7: the
    // initialisation call of the tick procedure on this core's counter, then
    // the periodic timer; killed by step 9 and by EndDownload).  Its ticks
    // wake the pump.
    bool StartTickTimer();
    void KillTickTimer();
    bool TickTimerRunning() const { return TickTimerId != 0; }
    // Starts the ticks counting, as a wait does; ResetTicks() stops them.
    void StartTickCount() { TickEnabled = true; }

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
    bool IsLowSpeed() const { return LowSpeedMode; }
    // CB_FINDSTRING: the first item from `startAt` on (wrapping round) that
    // begins with `prefix`, compared without regard to case; -1 when none.
    static int FindPrefix(const QStringList& items, const QString& prefix, int startAt);
    int SelectedChipType() const;
    // The image layout of the selected chip type.
    ChipFamily ImageFamily() const;

    // ---- Serial link and port list ------------------------------------------
    // Selects the port list entry of `device` (a device path, a name under
    // the device root, "sim:..."); false when no entry has it.
    bool SelectPort(const QString& device);
    // The device of the selected entry ("" = none).
    QString SelectedPort() const { return CurrentPort; }
    // The device of each entry of the port list, by position.
    QStringList PortDeviceList() const { return PortDevices; }
    // Opens the current port (during a download: the port the download
    // started with) at 8 data bits, one stop bit; shows why when it cannot.
    // After a failed open it does nothing until the next download (or the
    // next OpenSelectedPort) allows it again.
    bool OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) override;
    // Opens the selected port outside a download (the port test): allows the
    // open, then OpenPort, with its message when the port cannot be opened.
    bool OpenSelectedPort(uint32_t baud, uint8_t parity, uint8_t eventChar);
    void ClosePort() override;
    // The serial channel, to look at (open, its settings, bytes held).
    const SerialChannel& SerialLink() const { return *Channel; }
    void SendHexText(const QString& text);
    void OnSerialData();
    void StopChannel();
    void RefreshPortList();
    void StartPortWatch();
    void StopPortWatch();
    bool CheckDriverCompatibility();
    // The driver module of the last Prolific port a refresh found ("" until
    // one was found), and that driver's version as the system gives it now.
    QString UsbDriverName() const { return DriverFileName; }
    QString UsbDriverVersion() const;

    // ---- Firmware image ------------------------------------------------------------
    // Chooses `path` as the firmware the way the open-file dialog does: it
    // becomes the file the downloads program and the settings keep, it is
    // loaded (a failure is shown and keeps the image held before), and its
    // folder is watched for changes.  Returns whether it loaded.
    bool SetFirmwareFile(const QString& path);
    void OpenFirmwareFile();
    // The firmware file (the prompt text before one was chosen) and its name.
    QString FirmwareFile() const { return FirmwarePath; }
    QString FirmwareFileName() const { return FirmwareName; }
    bool LoadFirmware(const QString& path, const QString& fileName);
    // The image last loaded, as the selected chip type takes it (STC: the
    // flat image from 0; STM32: what the file's data covers), where its first
    // byte goes, and its blocks as the chip type cuts them.
    QByteArray Image() const { return ImageBytes.left(ImageSize); }
    quint32 ImageStart() const { return ImageAddress; }
    // STM32: where a .bin file's first byte goes (the flash start unless set).
    void SetBinAddress(quint32 address) { BinAddress = address; }
    QStringList ImageBlockTexts() const;
    // Why the last load failed ("" when it succeeded).
    QString LastLoadError() const { return LoadErrorText; }
    // The one log line with which a download stops when its firmware could
    // not be loaded (names the file and the reason).
    QString FirmwareLoadFailedLine() const;
    // The open-file dialog's filter in Qt's syntax.
    static QString FirmwareFileFilter();
    // A file of a watched folder was written since the last download began.
    bool FirmwareFolderChanged() const { return FileChanged.load(); }
    // The folders whose watch is running.
    QStringList WatchedFolders() const;

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
    bool IsSyncing() const { return SyncTimer.isActive(); }
    void ResetTicks() override;
    int Ticks() const override { return TickCount.load(); }
    protocol::WaitResult Wait(int tickLimit, const protocol::ReplyJudge& judge) override;
    bool Pause(int ms) override;
    void Log(const QString& line) override { AppendLog(line); }
    void Progress(int position) override { SetProgress(position); }
    void Message(const QString& text) override;
    // The checklist, after one line that names the other processes holding
    // the download's port open when there are any (a tty has no lock: such a
    // program takes the chip's answers).
    QString ConnectDiagnosis() const override;
    // That line for `holders` of `port` ("" when there are none).
    static QString PortHoldersLine(const QString& port, const std::vector<PortHolder>& holders);
    QString PortDiagnosis() const override { return PortDiagnosisText; }

    // The application's title: the caption of message boxes.
    static QString AppTitle();
    // The prompt shown in the file box before a file was chosen.
    static QString FilePrompt();

    // ---- Accessories: port test link and the STM32 verify setting -----------
    // The port loopback test's link over this window's channel: it opens the
    // current port through OpenSelectedPort.
    PortTestLink& PortTestChannel();
    // "校验STM32下载": the STM32 download reads it; saved under "VerifyStm32"
    // (default off), read at start, written at once when toggled.
    bool VerifyStm32() const { return VerifyStm32Flag; }
    void SetVerifyStm32(bool on);

protected:
    bool event(QEvent* e) override;

private:
    void SetTroubleshootingTexts();
    void BuildBlockTexts();
    // The download of StartDownload's two forms: `given` null reloads the
    // firmware file.
    void RunDownload(const LoadedImage* given, const QString& source);
    // Makes `loaded` (read from `path`) the image when it can be downloaded
    // with the selected chip type; otherwise shows why and keeps the image
    // held before.  Returns whether it took it.
    bool TakeImage(const LoadedImage& loaded, const QString& path);
    QString LoadFailedLine(const QString& source) const;
    // Points the channel at this window and at the device root before it opens.
    void PrepareChannel();
    // Takes what the port holds into the received bytes at once, when the
    // reader has not handed it on within a tick (a reply split over reads, or
    // bytes without the event character).
    void PollPort(bool now);
    // Writes `bytes` to the channel, noting when they will have left the
    // converter at the line's rate; 1 when the write was issued.
    int WriteToLine(const QByteArray& bytes);
    // Serves the program until what was written last has left the converter
    // (plus the margin): before a close or a new rate.
    void AwaitLineFree();

    // The line of the download's log that names what happened: the port-lost
    // line when the port went away, else the last line (the troubleshooting
    // texts left out).
    QString LastFailureLine() const;
    QStringList DownloadLogLines;           // the lines of the current download's log

    // ---- Download state (shared with the tick thread where atomic) -----------
    std::atomic<int> TickCount{0};
    std::atomic<bool> TickEnabled{false};
    unsigned TickTimerId = 0;
    bool PortOpenAllowed = false;
    std::atomic<bool> FileChanged{false};   // written by the folder watch threads
    bool LowSpeedMode = false;
    bool Downloading = false;               // between step 4 and step 9 of StartDownload

    // The download's own state.
    QString DownloadPort;                   // the port the download started with
    QByteArray ReceivedBytes;               // since the last Send / ForgetReceived
    std::chrono::steady_clock::time_point LastPortRead{};
    // When the last byte written will have left the converter, counted from
    // each write at the line's rate (a write waits behind the one before).
    std::chrono::steady_clock::time_point LineFreeAt{};
    std::atomic<bool> CancelRequested{false};
    protocol::DownloadReport Report;
    std::unique_ptr<ThreadNotifier> CancelBell;

    // ---- Current file and image ------------------------------------------------------
    QString FirmwarePath;
    QString FirmwareName;
    QByteArray ImageBytes;
    int ImageSize = 0;
    quint32 ImageAddress = 0;
    quint32 BinAddress = kStm32FlashStart;
    std::vector<QString> BlockTexts = std::vector<QString>(1024);
    int BlockCount = 0;
    QString LoadErrorText;

    // ---- Serial link and port list -----------------------------------------------------
    QByteArray ReceiveBuffer = QByteArray(1024, '\0'); // what each read of the port goes through
    QString CurrentPort;                    // device of the selected entry ("" = none)
    QString DriverFileName;
    // shared_ptr: destroyed without their headers here.
    std::shared_ptr<SerialChannel> Channel;
    std::shared_ptr<PortWatch> PortWatcher;
    std::shared_ptr<SerialDeviceFactory> SerialDevices; // opens the ports by name
    QStringList PortEntries;                // the entries of the last port list refresh
    QStringList PortDevices;                // the device of each of those entries, by position

    // ---- Troubleshooting texts ---------------------------------------------------------
    QString ConnectDiagnosisText;
    QString PortDiagnosisText;

    // Window timer 2 of the STC handshake.
    QTimer SyncTimer;

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

    // One folder watch per firmware folder chosen (shared_ptr: destroyed
    // without its header here).  Declared last, so the watch threads end
    // before FileChanged goes.
    std::vector<std::shared_ptr<FolderWatch>> FolderWatches;
};

} // namespace talvo
