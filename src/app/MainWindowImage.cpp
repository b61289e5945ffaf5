// Firmware image of the main window: loading, file choice and watch.
#include "app/MainWindowCore.h"

#include <QDir>
#include <QFileInfo>

#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "platform/FolderWatch.h"
#include "platform/ThreadNotifier.h"

namespace talvo {

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
        const QString at = QStringLiteral("第%1行(第%2个记录)").arg(loaded.line).arg(loaded.record);
        if (loaded.line > 0 && !loaded.message.contains(at))
            return refuse(loaded.message + QStringLiteral("位置: %1, %2\n").arg(path, at));
        return refuse(loaded.message);
    }
    const ChipImage image =
        PrepareChipImage(loaded, ImageFamily(), IsRawBinaryName(path) ? BinAddress : kStm32FlashStart);
    if (!image.ok())
        return refuse(image.message);
    if (const QString overlap = OverlapLogLine(loaded); !overlap.isEmpty())
        AppendLog(overlap);

    ImageBytes = image.bytes;
    ImageSize = static_cast<int>(ImageBytes.size());
    ImageAddress = image.address;
    Panel.setText(ctl::CodeSize, QStringLiteral("CodeSize:%1Byte").arg(ImageSize));
    return true;
}

QString MainWindowCore::FirmwareLoadFailedLine() const { return LoadFailedLine(FirmwarePath); }

QString MainWindowCore::LoadFailedLine(const QString& source) const {
    return QStringLiteral("固件文件%1无法加载,下载已停止: %2")
        .arg(source, LoadErrorText.isEmpty() ? QStringLiteral("原因不明") : LoadErrorText);
}

// The window's filter "Hex文件(*.HEX)|*.hex|Bin文件(*.BIN)|*.bin||" in Qt's
// syntax: each "description|pattern" pair becomes "description (patterns)",
// pairs are joined by ";;" and the closing "||" is dropped.  The description
// is kept as it was, so a dialog that hides filter details shows the same
// text; Qt takes the last parenthesised group as the patterns.  Both cases are
// listed because file names are case-sensitive here, unlike where the filter
// came from.  Of the dialog flags, hiding the read-only box and the overwrite
// prompt have no meaning for Qt's open dialog, and multiple selection is not
// offered because only one file is ever used.
QString MainWindowCore::FirmwareFileFilter() {
    return QStringLiteral("Hex文件(*.HEX) (*.hex *.HEX);;Bin文件(*.BIN) (*.bin *.BIN)");
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
                WatchFailureLines << QStringLiteral("文件夹%1的监视已停止(%2),文件更新后不再提示").arg(folder, reason);
            }
            WatchFailureBell->notify();
        });
    if (!watch->start())
        AppendLog(QStringLiteral("无法监视文件夹%1(%2),文件更新后不会提示").arg(folder, watch->errorString()));
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

} // namespace talvo
