// STC downloads through the window's core in real time, on a simulated board.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MemoryPanel.h"
#include "platform/SettingsStore.h"
#include "platform/SimRegistry.h"
#include "platform/SimWireDevice.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"

using namespace talvo;

namespace {

struct CoreRig {
    QTemporaryDir dir;
    QSettingsStore settings{dir.filePath("TALVO.conf")};
    MemoryPanel panel;
    std::unique_ptr<MainWindowCore> core;

    CoreRig(const QString& port, int chipType, const QString& firmware) {
        sim::registerSimulators();
        CoreServices services;
        services.settings = &settings;
        services.extraPorts = {port};
        services.devRoot = dir.path();
        services.sysfsRoot = dir.path();
        core = std::make_unique<MainWindowCore>(panel, services);
        core->Initialise();
        panel.setCurrentIndex(ctl::ChipType, chipType);
        const int index = panel.items(ctl::PortList).indexOf(port);
        panel.setCurrentIndex(ctl::PortList, index);
        core->OnPortSelected();
        core->FirmwarePath = firmware;
        core->FirmwareName = QFileInfo(firmware).fileName();
    }
    ~CoreRig() {
        core->StopPortWatch();
        core.reset();
        releaseSimBoards();
    }
};

QByteArray flashOf(const QString& selector, int n) {
    QByteArray out;
    auto board = findSimBoard(selector);
    if (!board) return out;
    board->withPeer([&](WirePeer& p) {
        const auto& f = static_cast<sim::SimChip&>(p).flash();
        out = QByteArray(reinterpret_cast<const char*>(f.data()), std::min<qsizetype>(n, f.size()));
    });
    return out;
}

} // namespace

TEST(CoreStcDownload, ProgramsTheSimulatedBoard) {
    const QString selector = "stc89c52rc,scale=0.2";
    CoreRig rig("sim:" + selector, 1, TALVO_SOURCE_DIR "/tests/app/data/tiny.hex");
    rig.core->StartDownload();
    for (const auto& l : rig.panel.logLines) std::printf("%s\n", l.left(90).toUtf8().constData());
    EXPECT_TRUE(rig.core->LastReport().success) << rig.core->LastReport().failure.toStdString();
    EXPECT_EQ(flashOf(selector, rig.core->ImageSize), rig.core->ImageBytes.left(rig.core->ImageSize));
}
