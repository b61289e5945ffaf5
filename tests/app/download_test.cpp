// The download command's fixed frame: log, firmware reload, buttons, tick,
// branch and tidying up.
#include <gtest/gtest.h>

#include <QFile>

#include <functional>
#include <QTemporaryDir>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MemoryPanel.h"
#include "serial/SerialChannel.h"

using namespace talvo;

namespace {

// Records every change of the two download buttons, in order.  With
// `duringDownload` set, runs it once the download has disabled its buttons
// (as a protocol step does in the middle of a download).
class RecordingPanel : public MemoryPanel {
public:
    QStringList events;
    std::function<void()> duringDownload;
    void setEnabled(int id, bool enabled) override {
        if (id == ctl::Download || id == ctl::OpenFile)
            events << QStringLiteral("%1:%2").arg(id).arg(enabled ? "on" : "off");
        MemoryPanel::setEnabled(id, enabled);
        if (id == ctl::OpenFile && !enabled && duringDownload) {
            auto step = std::move(duringDownload);
            duringDownload = nullptr;
            step();
        }
    }
};

const QString kTinyHex = QStringLiteral(TALVO_SOURCE_DIR "/tests/app/data/tiny.hex");

struct Fixture {
    RecordingPanel panel;
    MainWindowCore core{panel};
    Fixture() {
        core.Initialise();
        core.FirmwarePath = kTinyHex;
        core.FirmwareName = "tiny.hex";
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
        EXPECT_FALSE(f.core.Downloading);
        EXPECT_EQ(f.core.TickTimerId, 0u) << "the tick is killed afterwards";
        // The log was emptied at the start.
        EXPECT_FALSE(f.panel.text(ctl::StatusLog).contains("old line"));
        // Step 5's state (no port is listed here, so the branch's open
        // failed, which turns PortOpenAllowed off until the next download).
        EXPECT_FALSE(f.core.PortOpenAllowed);
        EXPECT_FALSE(SerialChannel::PortTestMode.load());
    }
}

TEST(StartDownload, FileChangeIsReportedFirstAndOnlyOnce) {
    Fixture f;
    f.core.FileChanged = true;
    f.core.StartDownload();
    ASSERT_FALSE(f.panel.logLines.isEmpty());
    EXPECT_EQ(f.panel.logLines.first(), "HEX文件以更新!");
    EXPECT_FALSE(f.core.FileChanged.load());

    f.panel.logLines.clear();
    f.core.StartDownload();
    EXPECT_FALSE(f.panel.logLines.contains("HEX文件以更新!"));
}

TEST(StartDownload, AFileThatCannotBeLoadedStopsTheDownloadAfterOneLine) {
    Fixture f;
    // Load a good image first, so that an image is held.
    f.core.StartDownload();
    ASSERT_GT(f.core.ImageSize, 0);
    const QByteArray held = f.core.ImageBytes;

    f.core.FirmwarePath = MainWindowCore::FilePrompt(); // the first-run prompt is no file
    f.panel.events.clear();
    f.panel.logLines.clear();
    f.core.StartDownload();
    ASSERT_EQ(f.panel.logLines.size(), 1);
    EXPECT_EQ(f.panel.logLines.first(), f.core.FirmwareLoadFailedLine());
    EXPECT_TRUE(f.panel.events.isEmpty()) << "no download started";
    EXPECT_EQ(f.core.ImageBytes, held) << "the image held before stays";
    EXPECT_EQ(f.core.TickTimerId, 0u);
}

TEST(StartDownload, AnEndDownloadInsideTheDownloadLeavesTheWindowIdleAfterwards) {
    Fixture f;
    f.panel.duringDownload = [&f] {
        f.core.SetProgress(500);
        f.core.EndDownload(); // a failing step ends the download early
        EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
        EXPECT_EQ(f.panel.progress(ctl::Progress), 0);
    };
    f.core.StartDownload();
    EXPECT_FALSE(f.panel.duringDownload) << "the step ran";
    // The branch ends the download once more (no port is listed here, so its
    // open fails) and step 9 runs again after it, which is harmless.
    EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
    EXPECT_TRUE(f.panel.isEnabled(ctl::OpenFile));
    EXPECT_EQ(f.core.TickTimerId, 0u);
    EXPECT_FALSE(f.core.Downloading);
    EXPECT_EQ(f.panel.events.count("1005:on"), 3);
}

TEST(EndDownload, ReturnsToIdleAndIsHarmlessTwice) {
    Fixture f;
    f.panel.setEnabled(ctl::Download, false);
    f.panel.setEnabled(ctl::OpenFile, false);
    f.core.SetProgress(300);
    f.core.TickCount = 12;
    f.core.TickEnabled = true;
    ASSERT_TRUE(f.core.StartTickTimer());
    f.core.SyncTimer.start();

    for (int i = 0; i < 2; ++i) {
        f.core.EndDownload();
        EXPECT_EQ(f.core.TickCount.load(), 0);
        EXPECT_FALSE(f.core.TickEnabled.load());
        EXPECT_FALSE(f.core.SyncTimer.isActive());
        EXPECT_EQ(f.panel.progress(ctl::Progress), 0);
        EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
        EXPECT_TRUE(f.panel.isEnabled(ctl::OpenFile));
        EXPECT_EQ(f.core.TickTimerId, 0u);
    }
}
