// The download command's fixed frame: log, firmware reload, buttons, tick,
// branch and tidying up.
#include <gtest/gtest.h>

#include <QFile>

#include <functional>
#include <QTemporaryDir>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "app/WindowTexts.h"
#include "common/FailingTicks.h"
#include "common/IsolatedRoots.h"
#include "common/Wait.h"
#include "host/SerialDownloadHost.h"
#include "platform/TickSource.h"
#include "serial/SerialChannel.h"

using namespace talvo;

namespace {

// Records every change of the two download buttons, in order.  With
// `duringDownload` set, runs it once the download has disabled its buttons
// (as a protocol step does in the middle of a download).
class RecordingPanel : public MainWindowPanel {
public:
    QStringList events;
    std::function<void()> duringDownload;
    void setEnabled(int id, bool enabled) override {
        if (id == ctl::Download || id == ctl::OpenFile)
            events << QStringLiteral("%1:%2").arg(id).arg(enabled ? "on" : "off");
        MainWindowPanel::setEnabled(id, enabled);
        if (id == ctl::OpenFile && !enabled && duringDownload) {
            auto step = std::move(duringDownload);
            duringDownload = nullptr;
            step();
        }
    }
};

const QString kTinyHex = QStringLiteral(TALVO_SOURCE_DIR "/tests/app/data/tiny.hex");

// A core whose firmware, chosen as the open-file dialog does, is a copy of
// tiny.hex in a folder of its own.
struct Fixture {
    QTemporaryDir dir;
    RecordingPanel panel;
    MainWindowCore core;
    explicit Fixture(TickSource* ticks = nullptr) : core(panel, CoreServices{nullptr, ticks, {}, {}, {}, {}, {}}) {
        core.Initialise();
        const QString firmware = dir.filePath(QStringLiteral("tiny.hex"));
        EXPECT_TRUE(QFile::copy(kTinyHex, firmware));
        EXPECT_TRUE(core.SetFirmwareFile(firmware));
        panel.events.clear();
        panel.setText(ctl::StatusLog, "old line");
    }
};

} // namespace

TEST(StartDownload, DisablesTheTwoButtonsDuringTheDownloadAndEnablesThemAfter) {
    for (int chip : {0, 1, -1}) {
        Fixture f;
        f.panel.setCurrentIndex(ctl::ChipType, chip);
        f.core.StartDownload();
        // Off first; on at the end (a download that fails early turns them on
        // in EndDownload too, which the end repeats harmlessly).
        ASSERT_GE(f.panel.events.size(), 4) << "chip " << chip;
        EXPECT_EQ(f.panel.events.mid(0, 2), (QStringList{"1005:off", "1011:off"})) << "chip " << chip;
        EXPECT_EQ(f.panel.events.mid(f.panel.events.size() - 2), (QStringList{"1005:on", "1011:on"}));
        EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
        EXPECT_TRUE(f.panel.isEnabled(ctl::OpenFile));
        EXPECT_FALSE(f.core.IsDownloading());
        EXPECT_FALSE(f.core.Host().TickTimerRunning()) << "the tick is killed afterwards";
        // The log was emptied at the start.
        EXPECT_FALSE(f.panel.text(ctl::StatusLog).contains("old line"));
        // Step 5's state (no port is listed here, so the branch's open
        // failed, which turns opening off until the next download: an open
        // now does nothing and says nothing).
        const size_t shown = f.panel.messages.size();
        EXPECT_TRUE(f.core.Host().OpenPort(9600, 0, 0x68));
        EXPECT_EQ(f.panel.messages.size(), shown);
        EXPECT_FALSE(f.core.Host().Channel().PortTestMode.load());
    }
}

TEST(StartDownload, FileChangeIsReportedFirstAndOnlyOnce) {
    Fixture f;
    // A file moved into the firmware's folder: one event for its watch.
    QTemporaryDir elsewhere;
    QFile note(elsewhere.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly) && note.write("x") == 1);
    note.close();
    ASSERT_TRUE(QFile::rename(note.fileName(), f.dir.filePath(QStringLiteral("notes.txt"))));
    ASSERT_TRUE(test::waitUntil([&] { return f.core.FirmwareFolderChanged(); }));
    f.core.StartDownload();
    ASSERT_FALSE(f.panel.logLines.isEmpty());
    EXPECT_EQ(f.panel.logLines.first(), "HEX文件以更新!");
    EXPECT_FALSE(f.core.FirmwareFolderChanged());

    f.panel.logLines.clear();
    f.core.StartDownload();
    EXPECT_FALSE(f.panel.logLines.contains("HEX文件以更新!"));
}

// Without a chosen file the file box holds the prompt: "下载程序" says that
// no firmware is chosen (also after the prompt came back from the settings in
// the other language's words) and tries no file; a chosen file that cannot
// be loaded stops the download after one line.  Either way the image held
// before stays and no download starts.
TEST(StartDownload, NoChosenFileIsSaidAndAFileThatCannotBeLoadedStopsAfterOneLine) {
    test::IsolatedRoots roots;
    RecordingPanel panel;
    MainWindowCore core(panel, roots.services());
    core.Initialise();
    ASSERT_EQ(core.FirmwareFile(), FilePrompt()) << "the first-run prompt is no file";
    // An image is held (loaded without choosing its file).
    ASSERT_TRUE(core.LoadFirmware(kTinyHex, QStringLiteral("tiny.hex")));
    const QByteArray held = core.Image();
    ASSERT_FALSE(held.isEmpty());

    const QString missing = roots.dir.filePath(QStringLiteral("gone.hex"));
    const struct {
        const char* what;
        QString path; // "" = as Initialise left it
        bool noFile;
    } cases[] = {
        {"the prompt", QString(), true},
        {"a file that is not there", missing, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.path.isEmpty()) core.SetFirmwareFile(c.path);
        panel.events.clear();
        panel.logLines.clear();
        panel.messages.clear();
        core.StartDownload();
        if (c.noFile) {
            ASSERT_EQ(panel.messages.size(), 1u);
            EXPECT_EQ(panel.messages[0].text, NoFirmwareText());
            EXPECT_TRUE(panel.logLines.isEmpty());
        } else {
            ASSERT_EQ(panel.logLines.size(), 1);
            EXPECT_EQ(panel.logLines.first(), core.FirmwareLoadFailedLine());
            EXPECT_TRUE(panel.logLines.first().contains(missing));
        }
        EXPECT_TRUE(panel.events.isEmpty()) << "no download started";
        EXPECT_EQ(core.Image(), held) << "the image held before stays";
        EXPECT_FALSE(core.Host().TickTimerRunning());
        EXPECT_TRUE(panel.isEnabled(ctl::Download));
    }
}

TEST(StartDownload, AnEndDownloadInsideTheDownloadLeavesTheWindowIdleAfterwards) {
    Fixture f;
    f.panel.duringDownload = [&f] {
        f.core.Host().Progress(500);
        f.core.Host().EndDownload(); // a failing step ends the download early
        EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
        EXPECT_EQ(f.panel.progress(ctl::Progress), 0);
    };
    f.core.StartDownload();
    EXPECT_FALSE(f.panel.duringDownload) << "the step ran";
    // The branch ends the download once more (no port is listed here, so its
    // open fails) and step 9 runs again after it, which is harmless.
    EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
    EXPECT_TRUE(f.panel.isEnabled(ctl::OpenFile));
    EXPECT_FALSE(f.core.Host().TickTimerRunning());
    EXPECT_FALSE(f.core.IsDownloading());
    EXPECT_EQ(f.panel.events.count("1005:on"), 3);
}

TEST(StartDownload, ATickThatCannotStartStopsTheDownloadWithAReport) {
    test::FailingTicks ticks;
    test::IsolatedRoots roots;
    MainWindowPanel panel;
    MainWindowCore core(panel, roots.services(&ticks));
    core.Initialise();
    core.SetFirmwareFile(QStringLiteral(TALVO_SOURCE_DIR "/tests/app/data/tiny.hex"));
    core.StartDownload();
    ASSERT_FALSE(panel.logLines.isEmpty());
    EXPECT_TRUE(panel.logLines.last().contains("Resource temporarily unavailable")) << panel.logLines.last().toStdString();
    EXPECT_TRUE(panel.isEnabled(1005));
    EXPECT_TRUE(panel.isEnabled(1011));
    EXPECT_FALSE(core.IsDownloading());
    EXPECT_FALSE(core.Host().TickTimerRunning());
}
