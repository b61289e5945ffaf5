// STC downloads through the window's core in real time, on simulated boards
// ("sim:" ports): the serial channel, its reader, the tick and the pump
// under the protocol.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "host/SerialDownloadHost.h"
#include "common/IsolatedRoots.h"
#include "common/ManualTicks.h"
#include "common/QtPrinters.h"
#include "platform/SimBoardSet.h"
#include "platform/SimWireDevice.h"
#include "serial/SerialChannel.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"

using namespace talvo;

namespace {

const QString kSuccess = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");
const QString kFirmware = QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex");

struct CoreRig {
    test::IsolatedRoots roots;
    MainWindowPanel panel;
    std::unique_ptr<MainWindowCore> core;

    CoreRig(const QStringList& ports, int chipType, bool lowSpeed = false, TickSource* ticks = nullptr,
            const QString& firmware = kFirmware) {
        sim::registerSimulators();
        CoreServices services = roots.services(ticks);
        services.extraPorts = ports;
        core = std::make_unique<MainWindowCore>(panel, services);
        core->Initialise();
        panel.setCurrentIndex(ctl::ChipType, chipType);
        core->OnSpeedMode(lowSpeed);
        core->SelectPort(ports.last());
        core->SetFirmwareFile(firmware);
    }
    ~CoreRig() {
        core->StopPortWatch();
        core.reset();
        releaseSimBoards();
    }
    QByteArray flash(const QString& port) const {
        QByteArray out;
        if (auto board = findSimBoard(port.mid(4)))
            board->withPeer([&](WirePeer& p) {
                const auto& f = static_cast<sim::SimChip&>(p).flash();
                out = QByteArray(reinterpret_cast<const char*>(f.data()),
                                 std::min<qsizetype>(core->Image().size(), static_cast<qsizetype>(f.size())));
            });
        return out;
    }
    void expectIdle() const {
        EXPECT_FALSE(core->Host().Channel().IsOpen());
        EXPECT_TRUE(panel.isEnabled(ctl::Download));
        EXPECT_EQ(panel.progress(ctl::Progress), 0);
    }
};

} // namespace

TEST(CoreStcDownload, ProgramsSimulatedBoardsAtRealPace) {
    struct Case {
        const char* port;
        int chipType;
        bool lowSpeed;
    };
    for (const Case& c : {Case{"sim:stc89c52rc,scale=0.2,switchfloor=0.5", 1, false}, Case{"sim:stc12c5a60s2,scale=0.1,switchfloor=0.5", 3, true}}) {
        CoreRig rig({c.port}, c.chipType, c.lowSpeed);
        rig.core->StartDownload();
        EXPECT_TRUE(rig.core->LastReport().success) << rig.panel.logLines.join('\n').toStdString();
        EXPECT_EQ(rig.panel.logLines.last(), kSuccess);
        EXPECT_EQ(rig.flash(c.port), rig.core->Image()) << c.port;
        rig.expectIdle();
    }
}

// A converter plugged in elsewhere refreshes the port list in the middle of a
// download: the download keeps its port.
TEST(CoreStcDownload, APortListRefreshDoesNotMoveTheDownload) {
    const QString other = QStringLiteral("sim:loopback");
    const QString board = QStringLiteral("sim:stc89c52rc,scale=0.2,switchfloor=0.5");
    CoreRig rig({other, board}, 1);
    bool refreshed = false;
    rig.panel.onLogLine = [&](const QString& line) {
        if (line == QStringLiteral("调整波特率...") && !refreshed) {
            refreshed = true;
            rig.core->RefreshPortList(); // selects the first entry again
        }
    };
    rig.core->StartDownload();
    ASSERT_TRUE(refreshed);
    EXPECT_EQ(rig.core->SelectedPort(), other) << "the list moved on";
    EXPECT_TRUE(rig.core->LastReport().success) << rig.panel.logLines.join('\n').toStdString();
    EXPECT_FALSE(findSimBoard(other.mid(4))) << "the other port was never opened";
}

// The converter goes away in the middle of the transfer, or the user stops
// the download: it ends at once, with a line that says so, the port closed.
TEST(CoreStcDownload, ALostPortAndAStopEndTheDownloadAtOnce) {
    {
        CoreRig rig({"sim:stc89c52rc,scale=0.2,switchfloor=0.5,hangup-block=2"}, 1);
        rig.core->StartDownload();
        EXPECT_FALSE(rig.core->LastReport().success);
        EXPECT_TRUE(rig.panel.logLines.join('\n').contains("已断开")) << rig.panel.logLines.join('\n').toStdString();
        EXPECT_EQ(rig.panel.logLines.last(), "写数据失败，重试!");
        rig.expectIdle();
    }
    {
        CoreRig rig({"sim:stc89c52rc,scale=0.2,switchfloor=0.5"}, 1);
        rig.panel.onLogLine = [&](const QString& line) {
            if (line.startsWith(QStringLiteral("正在下载数据"))) rig.core->Host().RequestCancel();
        };
        rig.core->StartDownload();
        EXPECT_FALSE(rig.core->LastReport().success);
        EXPECT_EQ(rig.panel.logLines.last(), "下载已取消") << "nothing that did not happen after it";
        EXPECT_EQ(rig.core->LastReport().failure, "下载已取消");
        rig.expectIdle();
    }
}

// The machine stalls while the download waits for the chip's first answer
// (a converter that hangs the system): the tick count has run far past the
// limit before the wait sees it again.  No silent chip is to blame: the log
// says to re-plug the converter, on either branch.
TEST(CoreDownload, AStalledSystemAsksToReplugTheConverter) {
    struct Case {
        const char* port;
        int chipType;
        QString firmware;
    };
    // Chips that never answer: the stall, not the silence, decides the line.
    const Case cases[] = {
        {"sim:stc89c52rc,drop=1", 1, kFirmware},
        {"sim:stm32f103,drop=1", 0, QStringLiteral(TALVO_SOURCE_DIR "/examples/stm32f103-blink/blink.hex")}};
    for (const Case& c : cases) {
        test::ManualTicks ticks;
        CoreRig rig({c.port}, c.chipType, false, &ticks, c.firmware);
        // Every few milliseconds a burst of 40 ticks: the next wait that
        // counts finds the count past 32 at once.
        QTimer stall;
        QObject::connect(&stall, &QTimer::timeout, [&] {
            for (int i = 0; i < 40; ++i) ticks.tick();
        });
        stall.start(5);
        rig.core->StartDownload();
        stall.stop();
        const QStringList& log = rig.panel.logLines;
        ASSERT_GE(log.size(), 2) << c.port;
        EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"连接超时...", "请拔掉USB 重试识别"}))
            << c.port << "\n" << log.join('\n').toStdString();
        rig.expectIdle();
    }
}

// A converter whose driver cannot tell when its transmitter is empty (a
// write returns as soon as the bytes are queued): the rate switch re-opens
// the port right after frames of 13 to 15 bytes at 1200 baud (108 to 137 ms
// on the wire).  The port closes only once they have left, so the chip hears
// them whole and the download succeeds.
TEST(CoreStcDownload, ARateChangeWaitsForTheFrameOnTheWire) {
    struct Case {
        const char* port;
        int chipType;
    };
    for (const Case& c : {Case{"sim:stc89c52rc,scale=0.2,switchfloor=0.5", 1}, Case{"sim:stc12c5a60s2,scale=0.1,switchfloor=0.5", 3}}) {
        sim::registerSimulators();
        QString error;
        const std::shared_ptr<SimWireDevice> board = simBoard(QString::fromLatin1(c.port).mid(4), &error);
        ASSERT_TRUE(board) << error.toStdString();
        board->setWriteReturnsAtOnce(true);
        CoreRig rig({c.port}, c.chipType);
        rig.core->StartDownload();
        EXPECT_TRUE(rig.core->LastReport().success) << c.port << "\n" << rig.panel.logLines.join('\n').toStdString();
        EXPECT_EQ(rig.flash(c.port), rig.core->Image()) << c.port;
        board->withPeer([&](WirePeer& p) {
            const auto rejected = static_cast<sim::SimChip&>(p).rejectedFrames();
            EXPECT_TRUE(rejected.empty()) << c.port << ": " << rejected.front().note;
        });
    }
}
