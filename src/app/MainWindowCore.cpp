#include "app/MainWindowCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLoggingCategory>

#include <climits>

#include "app/ControlIds.h"
#include "app/WindowTexts.h"
#include "host/SerialDownloadHost.h"
#include "platform/FolderWatch.h"
#include "platform/Messages.h"
#include "platform/OsVersion.h"
#include "platform/PortWatch.h"
#include "platform/QSettingsStore.h"
#include "platform/ThreadNotifier.h"
#include "porttest/HostPortTestLink.h"
#include "protocol/ChipTypes.h"
#include "protocol/DownloadJob.h"
#include "serial/DriverCheck.h"
#include "serial/PortList.h"

namespace talvo {

Q_LOGGING_CATEGORY(lcPortWatch, "talvo.ports")

namespace {

constexpr int kSettingsValueBytes = 1024;

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

const QString kVerifyStm32Key = QStringLiteral("VerifyStm32");

} // namespace

MainWindowCore::MainWindowCore(FrontPanel& panel, CoreServices services, QObject* parent)
    : QObject(parent), Panel(panel), Services(std::move(services)) {
    if (!Services.settings) {
        OwnedSettings = std::make_unique<QSettingsStore>();
        Services.settings = OwnedSettings.get();
    }
    if (!Services.clock) Services.clock = [] { return QDateTime::currentDateTime(); };
    HostReports reports;
    reports.log = [this](const QString& line) { AppendLog(line); };
    reports.progress = [this](int position) { Panel.setProgress(ctl::Progress, position); };
    reports.message = [this](const QString& text, const QString& caption, MsgIcon icon) {
        Panel.messageBox(text, caption, icon);
    };
    reports.idle = [this] {
        Panel.setEnabled(ctl::Download, true);
        Panel.setEnabled(ctl::OpenFile, true);
    };
    DownloadHost = std::make_unique<SerialDownloadHost>(
        std::move(reports), HostServices{Services.ticks, Services.devices, Services.devRoot});
}

MainWindowCore::~MainWindowCore() = default;

// ---------------------------------------------------------------------------
// Start-up and close

bool MainWindowCore::Initialise() {
    // The window has created its member dialogs, its status bar and icon.
    Panel.setStatusText(0, QCoreApplication::translate("MainWindowCore", "就绪"));

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
    return true;
}

void MainWindowCore::OnCloseWindow() {
    DownloadHost->StopChannel();
    StopPortWatch();
    SaveSettings();
    DownloadHost->KillTickTimer();
    Panel.quitApplication(0);
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
            Panel.messageBoxWithCause(QCoreApplication::translate("MainWindowCore", "错误：无法查询有关的注册表信息"), AppTitle(), MsgIcon::Warning,
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
            Panel.messageBoxWithCause(QCoreApplication::translate("MainWindowCore", "错误：无法查询有关的注册表信息"), AppTitle(), MsgIcon::Warning,
                                      QStringLiteral("settings %1, value \"%2\": %3")
                                          .arg(store.location(), QString::fromLatin1(names[i]), reason));
    }

    // The prompt is kept in the program's own words and shown in the window's.
    FirmwarePath = IsFilePrompt(texts[0]) ? FilePrompt() : texts[0];
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
        {QStringLiteral("Path"), IsFilePrompt(FirmwarePath) ? FilePromptSource() : FirmwarePath},
        {QStringLiteral("filename"), FirmwareName},
        {QStringLiteral("baud"), baud},
        {QStringLiteral("MCUTYPE"), QString::number(Panel.currentIndex(ctl::ChipType))},
    };
    QString reason;
    if (!Services.settings->writeValues(values, &reason))
        Panel.messageBoxWithCause(QCoreApplication::translate("MainWindowCore", "错误: 无法打开有关的hKEY!"), AppTitle(), MsgIcon::Warning,
                                  QStringLiteral("settings %1: %2").arg(Services.settings->location(), reason));
}

int MainWindowCore::SelectedChipType() const { return Panel.currentIndex(ctl::ChipType); }

ChipFamily MainWindowCore::ImageFamily() const {
    return protocol::IsStm32ChipType(SelectedChipType()) ? ChipFamily::Stm32 : ChipFamily::Stc;
}

// ---------------------------------------------------------------------------
// Status log and clock

void MainWindowCore::AppendLog(const QString& line) {
    const QString old = Panel.text(ctl::StatusLog);
    Panel.setText(ctl::StatusLog, old.isEmpty() ? line : old + QStringLiteral("\r\n") + line);
    Panel.logLineAppended(line);
}

void MainWindowCore::ShowClock() { Panel.setStatusText(1, FormatClock(Services.clock())); }

// ---------------------------------------------------------------------------
// Download command

void MainWindowCore::StartDownload() {
    // 1. A fresh log.
    Panel.setText(ctl::StatusLog, QString());

    // No file chosen yet: the file box holds the prompt, which is no file name.
    if (FirmwarePath.trimmed().isEmpty() || IsFilePrompt(FirmwarePath)) {
        Panel.messageBox(NoFirmwareText(), AppTitle(), MsgIcon::Warning);
        return;
    }

    // 2. The file's content on disk now is what gets programmed; one that
    //    cannot be loaded stops the download instead of programming the
    //    image held from before.
    if (!LoadFirmware(FirmwarePath, FirmwareName)) {
        AppendLog(FirmwareLoadFailedLine());
        return;
    }

    // 3.
    if (FileChanged.exchange(false)) AppendLog(QCoreApplication::translate("MainWindowCore", "HEX文件以更新!"));

    // 4.
    Panel.setEnabled(ctl::Download, false);
    Panel.setEnabled(ctl::OpenFile, false);
    Downloading = true;

    // 5.-9. On the host: the download keeps the port it starts with (a
    //    refresh of the port list meanwhile does not move it), the 100 ms
    //    tick runs while it does, the branch by chip type (no selection
    //    takes the STC path), and whatever happened the channel and the tick
    //    stop afterwards.
    protocol::DownloadJob job = MakeJob();
    const auto run = [&] {
        Report = DownloadHost->Run(CurrentPort,
                                   [&job](protocol::DownloadHost& host) { return protocol::RunDownload(host, job); });
    };
    run();
    // A read-protected STM32 refused the download.  Removing the protection
    // erases the whole chip, so it is offered, and done only on "yes".
    if (!Report.success && Report.readProtected && !Report.unprotected && protocol::IsStm32ChipType(job.chipType) &&
        Panel.askQuestion(UnprotectQuestionText(), AppTitle(), UnprotectAnswerText(), CancelAnswerText())) {
        AppendLog(QCoreApplication::translate("MainWindowCore", "按您的选择：解除读保护（擦除整个芯片）后重新下载"));
        job.unprotect = true;
        run();
    }
    // The chip that answered belongs to another chip type: offered, the
    // chip type changes and the download runs again (the user powers the
    // board once more); declined, nothing changes.
    if (!Report.success && Report.suggestedChipType >= 0 && Report.suggestedChipType != job.chipType &&
        Report.suggestedChipType < Panel.items(ctl::ChipType).size() &&
        Panel.askQuestion(WrongChipTypeQuestionText(Report.chip, Report.suggestedChipType), AppTitle(),
                          WrongChipTypeAnswerText(), CancelAnswerText())) {
        // Kept as every chip-type choice is: saved when the window closes.
        Panel.setCurrentIndex(ctl::ChipType, Report.suggestedChipType);
        AppendLog(QCoreApplication::translate("MainWindowCore", "按您的选择：改选芯片类型“%1”后重新下载")
                      .arg(Panel.items(ctl::ChipType).value(Report.suggestedChipType)));
        job = MakeJob();
        run();
    }
    Panel.setEnabled(ctl::Download, true);
    Panel.setEnabled(ctl::OpenFile, true);
    Downloading = false;
}

protocol::DownloadJob MainWindowCore::MakeJob() {
    protocol::DownloadJob job;
    job.chipType = SelectedChipType();
    job.image = ImageBytes;
    job.address = ImageAddress;
    job.lowSpeed = LowSpeedMode;
    job.verify = VerifyStm32Flag;
    // A Prolific converter whose driver fails the check gets the other
    // parameter in the STC rate switch.
    const int portIndex = Panel.currentIndex(ctl::PortList);
    const QStringList entries = Panel.items(ctl::PortList);
    const QString entry = portIndex >= 0 && portIndex < entries.size() ? entries[portIndex] : QString();
    if (isProlificEntry(entry) && !CheckDriverCompatibility()) job.stcDriverParameter = protocol::kStcDriverRefused;
    return job;
}

bool MainWindowCore::event(QEvent* e) {
    if (e->type() == WM_PORTS_CHANGED) {
        RefreshPortList();
        return true;
    }
    return QObject::event(e);
}

// ---------------------------------------------------------------------------
// Port list and driver check

void MainWindowCore::RefreshPortList() {
    const PortListing listing = listSerialPorts(Services.sysfsRoot, Services.extraPorts);
    // 1. The system's list of ttys cannot be read: say so and go on.
    if (!listing.systemListReadable) Panel.messageBox(noPortListMessage(), AppTitle(), MsgIcon::Warning);
    // 2. One log line per USB serial port; the last Prolific port names the
    //    driver (a refresh without one keeps the name found before).
    for (const QString& line : listing.logLines) AppendLog(line);
    if (!listing.driverFileName.isEmpty()) DriverFileName = listing.driverFileName;
    // 3. The driver's version is read where it is used (the driver check).
    // 4.-6. The list has no fixed capacity: every port found is listed.
    PortEntries = listing.entries;
    PortDevices = listing.devices;
    Panel.setItems(ctl::PortList, PortEntries.isEmpty() ? QStringList{noPortItem()} : PortEntries);
    if (!PortDevices.isEmpty()) CurrentPort = PortDevices.first();
    Panel.setCurrentIndex(ctl::PortList, 0);
}

void MainWindowCore::OnPortSelected() {
    const int index = Panel.currentIndex(ctl::PortList);
    const QStringList items = Panel.items(ctl::PortList);
    if (index < 0 || index >= items.size()) return;
    const QString& entry = items[index];
    if (index < PortEntries.size() && PortEntries[index] == entry && index < PortDevices.size())
        CurrentPort = PortDevices[index];
    else if (entry == noPortItem())
        CurrentPort.clear();
    else
        CurrentPort = portEntryDevice(entry);
}

bool MainWindowCore::SelectPort(const QString& device) {
    const int index = PortDevices.indexOf(device);
    if (index < 0) return false;
    Panel.setCurrentIndex(ctl::PortList, index);
    CurrentPort = PortDevices[index];
    return true;
}

void MainWindowCore::StartPortWatch() {
    if (PortWatcher && PortWatcher->running()) return;
    // The watch thread only rings; WM_PORTS_CHANGED is made and handled on
    // this object's thread.
    auto changed = std::make_shared<ThreadNotifier>([this] {
        QEvent e(WM_PORTS_CHANGED);
        QCoreApplication::sendEvent(this, &e);
    });
    PortWatcher = std::make_shared<PortWatch>(Services.devRoot, [changed] { changed->notify(); });
    QString error;
    // A watch that cannot start leaves the list as it is until the next
    // start; nothing is shown to the user.
    if (!PortWatcher->start(&error)) qCWarning(lcPortWatch).noquote() << error;
}

void MainWindowCore::StopPortWatch() {
    if (PortWatcher) PortWatcher->stop();
}

bool MainWindowCore::CheckDriverCompatibility() {
    const WindowsGroup group = windowsGroupOf(currentOsVersion());
    return driverSuitsSystem(group, ReadDriverVersion(Services.sysfsRoot, DriverFileName));
}

// ---------------------------------------------------------------------------
// Firmware image: loading, file choice and watch

bool MainWindowCore::LoadFirmware(const QString& path, const QString& /*fileName*/) {
    return TakeImage(ReadFirmwareFile(path), path);
}

bool MainWindowCore::TakeImage(const LoadedImage& loaded, const QString& path) {
    LoadErrorText.clear();
    Panel.setText(ctl::FilePath, path);

    // Any failure leaves the image held before untouched; the caller decides
    // whether to go on (opening a file) or stop (a download).
    const auto refuse = [this](const QString& message) {
        Panel.messageBox(message, AppTitle(), MsgIcon::Warning);
        LoadErrorText = message.trimmed();
        return false;
    };
    if (!loaded.ok) {
        // Where a malformed file went wrong, unless the message says it already.
        const QString at = QCoreApplication::translate("MainWindowCore", "第%1行(第%2个记录)").arg(loaded.line).arg(loaded.record);
        if (loaded.line > 0 && !loaded.message.contains(at))
            return refuse(loaded.message + QCoreApplication::translate("MainWindowCore", "位置: %1, %2\n").arg(path, at));
        return refuse(loaded.message);
    }
    const ChipImage image =
        PrepareChipImage(loaded, ImageFamily(), kStm32FlashStart);
    if (!image.ok())
        return refuse(image.message);
    if (const QString overlap = OverlapLogLine(loaded); !overlap.isEmpty())
        AppendLog(overlap);

    ImageBytes = image.bytes;
    ImageAddress = image.address;
    Panel.setText(ctl::CodeSize, QStringLiteral("CodeSize:%1Byte").arg(ImageBytes.size()));
    return true;
}

QString MainWindowCore::FirmwareLoadFailedLine() const {
    return QCoreApplication::translate("MainWindowCore", "固件文件%1无法加载,下载已停止: %2")
        .arg(FirmwarePath, LoadErrorText.isEmpty() ? QCoreApplication::translate("MainWindowCore", "原因不明") : LoadErrorText);
}

void MainWindowCore::OpenFirmwareFile() {
    const QString chosen = Panel.askOpenFileName(FirmwareFileFilter(), QStringLiteral("hex"));
    if (chosen.isEmpty())
        return;
    SetFirmwareFile(chosen);
}

bool MainWindowCore::SetFirmwareFile(const QString& path) {
    const QFileInfo info(path);
    FirmwarePath = path;
    FirmwareName = info.fileName();
    const bool loaded = LoadFirmware(FirmwarePath, FirmwareName);

    // One watch per folder: the file's own folder (taken from the file's
    // information, not by cutting the name out of the path text, which would
    // also cut it out of a folder name that contains it).  A folder already
    // watched (or one whose watch already failed and said so) gets no second
    // watch.
    const QString folder = QDir::cleanPath(info.absolutePath());
    for (const auto& watch : FolderWatches) {
        if (watch->folder() == folder) {
            if (!watch->running())
                watch->start(); // e.g. the folder was removed and made again; stays quiet
            return loaded;
        }
    }
    if (!WatchFailureBell)
        WatchFailureBell = std::make_unique<ThreadNotifier>([this] { LogWatchFailures(); });
    auto watch = std::make_shared<FolderWatch>(
        folder, FileChanged,
        [this, folder](const QString& reason) {
            // On the watch thread: queue the line and ring this thread.
            {
                std::lock_guard lock(WatchFailureMutex);
                WatchFailureLines << QCoreApplication::translate("MainWindowCore", "文件夹%1的监视已停止(%2),文件更新后不再提示").arg(folder, reason);
            }
            WatchFailureBell->notify();
        });
    if (!watch->start())
        AppendLog(QCoreApplication::translate("MainWindowCore", "无法监视文件夹%1(%2),文件更新后不会提示").arg(folder, watch->errorString()));
    FolderWatches.push_back(std::move(watch));
    return loaded;
}

QStringList MainWindowCore::WatchedFolders() const {
    QStringList folders;
    for (const auto& watch : FolderWatches)
        if (watch->running()) folders << watch->folder();
    return folders;
}

void MainWindowCore::LogWatchFailures() {
    QStringList lines;
    {
        std::lock_guard lock(WatchFailureMutex);
        lines.swap(WatchFailureLines);
    }
    for (const QString& line : lines)
        AppendLog(line);
}

// ---------------------------------------------------------------------------
// Accessories: the port test's link and the "VerifyStm32" setting

PortTestLink& MainWindowCore::PortTestChannel() {
    // The port test opens the selected port, as a download would.
    if (!PortTestLinkImpl)
        PortTestLinkImpl = std::make_shared<HostPortTestLink>(*DownloadHost, [this] { return CurrentPort; });
    return *PortTestLinkImpl;
}

void MainWindowCore::LoadAccessorySettings() {
    SettingsStore& store = *Services.settings;
    VerifyStm32Flag = false;
    if (!store.openForRead()) return;
    if (auto value = store.readValue(kVerifyStm32Key, 64)) VerifyStm32Flag = value->trimmed() == QLatin1String("1");
}

void MainWindowCore::SetVerifyStm32(bool on) {
    VerifyStm32Flag = on;
    QString reason;
    if (!Services.settings->writeValues({{kVerifyStm32Key, on ? QStringLiteral("1") : QStringLiteral("0")}}, &reason))
        AppendLog(QCoreApplication::translate("MainWindowCore", "错误：无法保存设置 VerifyStm32（%1）").arg(reason));
}

} // namespace talvo
