#pragma once
// Names of the form "sim:CHIP[,key=value...]" select an in-process chip
// simulator instead of a device.  The simulators live above the platform
// layer, so they register a factory here at start-up (the one thing the
// process shares; the boards belong to board sets, SimBoardSet.h).

#include <QString>
#include <functional>
#include <memory>

#include "platform/Wire.h"

namespace talvo {

inline constexpr char kSimPortPrefix[] = "sim:";

using SimPeerFactory = std::function<std::unique_ptr<WirePeer>(const QString& selector, QString* error)>;

void setSimPeerFactory(SimPeerFactory factory);
// Builds the simulator for `selector` (the text after "sim:"); null with *error
// set when no factory is registered or the selector names no known chip.
std::unique_ptr<WirePeer> makeSimPeer(const QString& selector, QString* error);

} // namespace talvo
