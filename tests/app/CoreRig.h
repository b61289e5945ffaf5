#pragma once
// The window's core on a simulated board ("sim:" port), for downloads through
// the core in real time, and a look at the board's flash afterwards.

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MemoryPanel.h"
#include "platform/SettingsStore.h"
#include "platform/SimRegistry.h"
#include "platform/SimWireDevice.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"

namespace talvo::coretest {

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

inline QByteArray flashOf(const QString& selector, int n) {
    QByteArray out;
    auto board = findSimBoard(selector);
    if (!board) return out;
    board->withPeer([&](WirePeer& p) {
        const auto& f = static_cast<sim::SimChip&>(p).flash();
        out = QByteArray(reinterpret_cast<const char*>(f.data()), std::min<qsizetype>(n, f.size()));
    });
    return out;
}

} // namespace talvo::coretest
