// The main window's firmware handling: loading into the controls, keeping the
// previous image on failure, choosing a file and watching its folder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "app/WindowTexts.h"
#include "common/IsolatedRoots.h"
#include "common/Wait.h"
#include "image/HexWriter.h"
#include "platform/FolderWatch.h"

using namespace talvo;
using namespace talvo::test;

namespace {

// HEX with 32-byte records.
QByteArray hexImage(const QByteArray& image) {
    QByteArray text;
    for (int at = 0; at < image.size(); at += 32)
        text += dataRecord(static_cast<uint16_t>(at), image.mid(at, 32));
    return text + eofRecord();
}

QString writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    return path;
}

class FirmwareWindow : public ::testing::Test {
protected:
    IsolatedRoots roots;
    MainWindowPanel panel;
    MainWindowCore core{panel, roots.services()};
    QTemporaryDir dir;
};

} // namespace

TEST_F(FirmwareWindow, LoadShowsTheImageAndAFailureKeepsIt) {
    ASSERT_TRUE(dir.isValid());
    panel.setCurrentIndex(ctl::ChipType, 0); // ARM-STM32
    const QString good = writeFile(dir.filePath(QStringLiteral("good.hex")), hexImage(counting(300)));
    ASSERT_TRUE(core.LoadFirmware(good, QStringLiteral("good.hex")));
    EXPECT_EQ(panel.text(ctl::FilePath), good);
    EXPECT_EQ(panel.text(ctl::CodeSize), QStringLiteral("CodeSize:300Byte"));
    EXPECT_EQ(core.Image(), counting(300));
    EXPECT_TRUE(core.LastLoadError().isEmpty());
    EXPECT_TRUE(panel.messages.empty());

    // A malformed file: the converter's message in a box, nothing else changes, the process goes on.
    const QString bad = writeFile(dir.filePath(QStringLiteral("bad.hex")), dataRecord(0, counting(4)) + ":0100000055AB\n");
    EXPECT_FALSE(core.SetFirmwareFile(bad));
    ASSERT_EQ(panel.messages.size(), 1u);
    // The converter's text, then where in the file (as the command line says it).
    EXPECT_EQ(panel.messages[0].text,
              QStringLiteral("传入的hex文件校验和错误9,转换终止!\n位置: %1, 第2行(第2个记录)\n").arg(bad));
    EXPECT_EQ(panel.messages[0].caption, AppTitle());
    EXPECT_EQ(core.Image(), counting(300));
    EXPECT_EQ(panel.text(ctl::CodeSize), QStringLiteral("CodeSize:300Byte"));
    EXPECT_TRUE(core.LastLoadError().startsWith(QStringLiteral("传入的hex文件校验和错误9,转换终止!")));
    const QString line = core.FirmwareLoadFailedLine();
    EXPECT_TRUE(line.contains(bad) && line.contains(core.LastLoadError())) << line.toStdString();

    // An image the STC protocol cannot address is refused at load.
    panel.setCurrentIndex(ctl::ChipType, 1);
    const QString big = writeFile(dir.filePath(QStringLiteral("big.bin")), QByteArray(70000, '\x55'));
    EXPECT_FALSE(core.LoadFirmware(big, QStringLiteral("big.bin")));
    EXPECT_TRUE(panel.messages.back().text.contains(QStringLiteral("65408")));
    EXPECT_EQ(core.Image().size(), 300);
    // ...while the same chip type takes the small image.
    ASSERT_TRUE(core.LoadFirmware(good, QString()));
    EXPECT_EQ(core.Image(), counting(300));

    // No file chosen yet: the path is the prompt text.
    EXPECT_FALSE(core.LoadFirmware(FilePrompt(), QString()));
    EXPECT_TRUE(panel.messages.back().text.startsWith(QStringLiteral("无法打开文件1: ") + FilePrompt()));

    // A device or a pipe chosen as firmware (here behind links with firmware
    // names): one message each, at once, and the window goes on with its image.
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const auto& [name, target] : {std::pair{"zero.bin", QStringLiteral("/dev/zero")},
                                       std::pair{"fifo.hex", fifo}}) {
        const QString link = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(QFile::link(target, link));
        const size_t before = panel.messages.size();
        panel.nextOpenFileName = link;
        core.OpenFirmwareFile();
        ASSERT_EQ(panel.messages.size(), before + 1) << name;
        EXPECT_TRUE(panel.messages.back().text.contains(link)) << panel.messages.back().text.toStdString();
        EXPECT_TRUE(panel.messages.back().text.contains(QStringLiteral("不是普通文件")));
        EXPECT_EQ(core.Image().size(), 300);
    }
}

TEST_F(FirmwareWindow, ChoosingFilesWatchesEachFolderOnce) {
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkpath(QStringLiteral("a"));
    QDir(dir.path()).mkpath(QStringLiteral("b"));
    const QString a1 = writeFile(dir.filePath(QStringLiteral("a/one.hex")), hexImage(counting(64)));
    const QString a2 = writeFile(dir.filePath(QStringLiteral("a/two.BIN")), counting(10));
    const QString b1 = writeFile(dir.filePath(QStringLiteral("b/one.hex")), hexImage(counting(64)));

    panel.nextOpenFileName = QString(); // cancelled
    core.OpenFirmwareFile();
    EXPECT_TRUE(core.FirmwareFile().isEmpty());
    EXPECT_TRUE(core.WatchedFolders().isEmpty());

    const QString a = QDir::cleanPath(dir.filePath(QStringLiteral("a")));
    const QString b = QDir::cleanPath(dir.filePath(QStringLiteral("b")));
    panel.nextOpenFileName = a1;
    core.OpenFirmwareFile();
    EXPECT_EQ(core.FirmwareFile(), a1);
    EXPECT_EQ(core.FirmwareFileName(), QStringLiteral("one.hex"));
    EXPECT_EQ(core.Image().size(), 64);
    EXPECT_EQ(core.WatchedFolders(), QStringList{a});

    panel.nextOpenFileName = a2;
    core.OpenFirmwareFile();
    EXPECT_EQ(core.Image().size(), 10);
    EXPECT_EQ(core.WatchedFolders(), QStringList{a});
    panel.nextOpenFileName = b1;
    core.OpenFirmwareFile();
    EXPECT_EQ(core.WatchedFolders(), (QStringList{a, b}));

    // A write to any file of a watched folder sets FileChanged.
    ASSERT_FALSE(core.FirmwareFolderChanged());
    writeFile(dir.filePath(QStringLiteral("a/notes.txt")), "x");
    EXPECT_TRUE(waitUntil([&] { return core.FirmwareFolderChanged(); }));
    EXPECT_TRUE(panel.logLines.isEmpty());
}

// Subfolders made or renamed in the firmware's folder are no file change.
// The folder is removed at the end: its watch reports that after every
// earlier event, so once the report is logged the flag says all there is.
TEST_F(FirmwareWindow, SubfoldersMadeOrRenamedAreNoChange) {
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("fw"));
    ASSERT_TRUE(QDir().mkpath(folder));
    panel.nextOpenFileName = writeFile(folder + QStringLiteral("/fw.hex"), hexImage(counting(64)));
    core.OpenFirmwareFile();
    ASSERT_EQ(core.WatchedFolders(), QStringList{QDir::cleanPath(folder)});
    ASSERT_FALSE(core.FirmwareFolderChanged());

    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("build")));
    ASSERT_TRUE(QDir(folder).rename(QStringLiteral("build"), QStringLiteral("out")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("elsewhere")));
    ASSERT_TRUE(QDir().rename(dir.filePath(QStringLiteral("elsewhere")), folder + QStringLiteral("/moved-in")));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return !panel.logLines.isEmpty(); }));
    EXPECT_TRUE(panel.logLines.last().contains(QStringLiteral("监视已停止"))) << panel.logLines.last().toStdString();
    EXPECT_FALSE(core.FirmwareFolderChanged());
}

TEST_F(FirmwareWindow, ReloadingFromTheTemporaryFolderIsNoChange) {
    // The firmware sits in the temporary folder, where the converter writes
    // its own temporary files at every load.
    ASSERT_TRUE(dir.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(tmp));
    qputenv("TMPDIR", QFile::encodeName(tmp));
    panel.nextOpenFileName = writeFile(tmp + QStringLiteral("/fw.hex"), hexImage(counting(64)));
    core.OpenFirmwareFile();
    ASSERT_EQ(core.WatchedFolders(), QStringList{QDir::cleanPath(tmp)}) << "the watch runs";
    ASSERT_FALSE(core.FirmwareFolderChanged());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(core.LoadFirmware(core.FirmwareFile(), core.FirmwareFileName()));
    // Removing the folder is reported after every event of the loads.
    ASSERT_TRUE(QDir(tmp).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return !panel.logLines.isEmpty(); }));
    EXPECT_FALSE(core.FirmwareFolderChanged());
    if (oldTmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
}

TEST_F(FirmwareWindow, AFailingWatchIsLoggedOnceAndTheWindowGoesOn) {
    const QString gone = QStringLiteral("/nonexistent-talvo-folder/fw.hex");
    panel.nextOpenFileName = gone;
    core.OpenFirmwareFile();
    panel.nextOpenFileName = gone;
    core.OpenFirmwareFile();
    ASSERT_EQ(panel.logLines.size(), 1);
    EXPECT_TRUE(panel.logLines[0].contains(QStringLiteral("/nonexistent-talvo-folder"))) << panel.logLines[0].toStdString();
    EXPECT_TRUE(core.WatchedFolders().isEmpty()) << "the failed watch does not run";

    // A watch that ends later (its folder removed) reports once through the window's log.
    auto temp = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(temp->isValid());
    panel.nextOpenFileName = writeFile(temp->filePath(QStringLiteral("fw.hex")), hexImage(counting(8)));
    core.OpenFirmwareFile();
    ASSERT_EQ(core.WatchedFolders(), QStringList{QDir::cleanPath(temp->path())});
    temp.reset();
    ASSERT_TRUE(waitUntil([&] { return panel.logLines.size() >= 2; }));
    ASSERT_EQ(panel.logLines.size(), 2);
    EXPECT_TRUE(panel.logLines[1].contains(QStringLiteral("监视已停止"))) << panel.logLines[1].toStdString();
}

TEST_F(FirmwareWindow, ADownloadWhoseFileCannotBeLoadedStopsAfterOneLine) {
    ASSERT_TRUE(dir.isValid());
    panel.setCurrentIndex(ctl::ChipType, 1);
    const QString path = writeFile(dir.filePath(QStringLiteral("fw.hex")), hexImage(counting(200)));
    ASSERT_TRUE(core.SetFirmwareFile(path));

    // The file goes bad on disk; the image held from before must not be programmed.
    writeFile(path, hexImage(counting(200)).left(100));
    core.StartDownload();
    ASSERT_EQ(panel.logLines.size(), 1);
    EXPECT_EQ(panel.logLines[0], core.FirmwareLoadFailedLine());
    EXPECT_TRUE(panel.logLines[0].contains(QStringLiteral("fw.hex")));
    EXPECT_TRUE(panel.logLines[0].contains(QStringLiteral("传入的hex")) ||
                panel.logLines[0].contains(QStringLiteral("无法在")))
        << panel.logLines[0].toStdString();
    EXPECT_FALSE(core.IsDownloading());
    EXPECT_TRUE(panel.isEnabled(ctl::Download));
    EXPECT_TRUE(panel.isEnabled(ctl::OpenFile));
    EXPECT_EQ(core.Image().size(), 200);
}

TEST_F(FirmwareWindow, TheImageCarriesItsPlaceAndOverlapsAreLogged) {
    // An STM32 application for 0x08004000 is held as its own bytes at its own
    // address (not behind 16 KB of zeros); for an STC chip the same file is
    // the flat image from 0.  Records written twice are named in the log.
    ASSERT_TRUE(dir.isValid());
    const QByteArray app = counting(300);
    const QString hex = writeFile(dir.filePath(QStringLiteral("app.hex")),
                                  linearData(0x08004000, app) + dataRecord(0x4010, app.mid(0x10, 16)) + eofRecord());
    const QString overlap =
        QStringLiteral("HEX文件的数据记录有重叠：地址 0x08004010 至 0x0800401F 被后面的记录再次写入，以后写入的为准");

    panel.setCurrentIndex(ctl::ChipType, 0); // ARM-STM32
    ASSERT_TRUE(core.SetFirmwareFile(hex));
    EXPECT_EQ(core.Image(), app);
    EXPECT_EQ(core.ImageStart(), 0x08004000u);
    EXPECT_EQ(panel.text(ctl::CodeSize), QStringLiteral("CodeSize:300Byte"));
    EXPECT_EQ(panel.logLines.count(overlap), 1) << panel.logLines.join(QLatin1Char('\n')).toStdString();

    panel.setCurrentIndex(ctl::ChipType, 1); // STC89
    ASSERT_TRUE(core.LoadFirmware(hex, QStringLiteral("app.hex")));
    EXPECT_EQ(core.Image(), QByteArray(0x4000, '\0') + app);
    EXPECT_EQ(core.ImageStart(), 0u);
    EXPECT_EQ(panel.logLines.count(overlap), 2);

    // A .bin goes to the flash start in the window.
    panel.setCurrentIndex(ctl::ChipType, 0);
    ASSERT_TRUE(core.SetFirmwareFile(writeFile(dir.filePath(QStringLiteral("app.bin")), app)));
    EXPECT_EQ(core.ImageStart(), 0x08000000u);
    EXPECT_EQ(core.Image(), app);
}
