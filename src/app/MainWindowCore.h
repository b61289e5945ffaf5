#pragma once
// The main window's logic without its widgets: the controls' initial state,
// the settings, the port list and its watch, the firmware file and its
// folder's watch, and the download command.  A download runs on the
// window's download host (SerialDownloadHost), which serves the window's
// events while the protocol waits.  It talks to a person only through a
// FrontPanel.
//
// It lives on the user-interface thread.  Worker threads (port watch, folder
// watch, and the host's reader and tick) share only atomics with it and post
// events to it.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "image/FirmwareImage.h"
#include "panel/FrontPanel.h"
#include "protocol/DownloadHost.h"

namespace talvo {

class SettingsStore;
class TickSource;
class PortWatch;
class FolderWatch;
class ThreadNotifier;
class SerialDeviceFactory;
class SerialDownloadHost;
class PortTestLink;

namespace protocol {
struct DownloadJob;
}

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

// Its state is its own: front ends and tests change it through the window's
// operations (choosing a file, selecting a port, the speed mode, a download)
// and read it through the views below.
class MainWindowCore : public QObject {
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

    // ---- Download command ------------------------------------------------------
    void StartDownload();
    // Between the start of a download (buttons disabled) and its end.
    bool IsDownloading() const { return Downloading; }
    // What the last download came to (success, chip, crystal, rate, bytes,
    // the line that names a failure).
    const protocol::DownloadReport& LastReport() const { return Report; }
    // The question a download refused by a read-protected STM32 ends with,
    // and its two answers.
    static QString UnprotectQuestionText();
    static QString UnprotectAnswerText() { return QStringLiteral("解除读保护并下载"); }
    static QString CancelAnswerText() { return QStringLiteral("取消"); }
    // The question after a download stopped on a chip of another chip type:
    // names the chip that answered and the chip type it belongs to.
    static QString WrongChipTypeQuestionText(const QString& chip, int chipType);
    static QString WrongChipTypeAnswerText();
    // The window's download host: its channel, tick and waits.
    SerialDownloadHost& Host() { return *DownloadHost; }

    // ---- Status log, clock -------------------------------------------------------
    void AppendLog(const QString& line);
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

    // ---- Port list ----------------------------------------------------------------
    // Selects the port list entry of `device` (a device path, a name under
    // the device root, "sim:..."); false when no entry has it.
    bool SelectPort(const QString& device);
    // The device of the selected entry ("" = none).
    QString SelectedPort() const { return CurrentPort; }
    // The device of each entry of the port list, by position.
    QStringList PortDeviceList() const { return PortDevices; }
    void RefreshPortList();
    void StartPortWatch();
    void StopPortWatch();
    bool CheckDriverCompatibility();
    // The driver module of the last Prolific port a refresh found ("" until
    // one was found).
    QString UsbDriverName() const { return DriverFileName; }

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
    // flat image from 0; STM32: what the file's data covers), and where its
    // first byte goes.
    QByteArray Image() const { return ImageBytes; }
    quint32 ImageStart() const { return ImageAddress; }
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

    // The application's title: the caption of message boxes.
    static QString AppTitle() { return talvo::AppTitle(); }
    // The prompt shown in the file box before a file was chosen, and whether
    // `path` is that prompt (in the program's words or the window's).
    static QString FilePrompt();
    static bool IsFilePrompt(const QString& path);
    // What "下载程序" says while no firmware file is chosen.
    static QString NoFirmwareText();

    // ---- Accessories: port test link and the STM32 verify setting -----------
    // The port loopback test's link over the download host's channel: it
    // opens the selected port as a download does.
    PortTestLink& PortTestChannel();
    // "校验STM32下载": the STM32 download reads it; saved under "VerifyStm32"
    // (default off), read at start, written at once when toggled.
    bool VerifyStm32() const { return VerifyStm32Flag; }
    void SetVerifyStm32(bool on);

protected:
    bool event(QEvent* e) override;

private:
    int SelectedChipType() const;
    // The image layout of the selected chip type.
    ChipFamily ImageFamily() const;
    // Makes `loaded` (read from `path`) the image when it can be downloaded
    // with the selected chip type; otherwise shows why and keeps the image
    // held before.  Returns whether it took it.
    bool TakeImage(const LoadedImage& loaded, const QString& path);
    // The protocol's job for the image held, the selected chip type, the
    // speed mode, the port's driver and the verify setting.
    protocol::DownloadJob MakeJob();

    FrontPanel& Panel;
    CoreServices Services;
    std::unique_ptr<SettingsStore> OwnedSettings;

    // ---- Download state -------------------------------------------------------
    std::unique_ptr<SerialDownloadHost> DownloadHost;
    protocol::DownloadReport Report;
    std::atomic<bool> FileChanged{false};   // written by the folder watch threads
    bool LowSpeedMode = false;
    bool Downloading = false;               // between step 4 and step 9 of StartDownload

    // ---- Current file and image ------------------------------------------------------
    QString FirmwarePath;
    QString FirmwareName;
    QByteArray ImageBytes;
    quint32 ImageAddress = 0;
    QString LoadErrorText;

    // ---- Port list -----------------------------------------------------------------------
    QString CurrentPort;                    // device of the selected entry ("" = none)
    QString DriverFileName;
    std::shared_ptr<PortWatch> PortWatcher; // shared_ptr: destroyed without its header here
    QStringList PortEntries;                // the entries of the last port list refresh
    QStringList PortDevices;                // the device of each of those entries, by position

    void LoadAccessorySettings();
    bool VerifyStm32Flag = false;
    std::shared_ptr<PortTestLink> PortTestLinkImpl;

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
