#pragma once
// Names of the form "sim:CHIP[,key=value...]" select an in-process chip
// simulator instead of a device.  The simulators live above the platform
// layer, so they register a factory here at start-up.

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Wire.h"

namespace talvo {

inline constexpr char kSimPortPrefix[] = "sim:";

using SimPeerFactory = std::function<std::unique_ptr<WirePeer>(const QString& selector, QString* error)>;

void setSimPeerFactory(SimPeerFactory factory);
// Builds the simulator for `selector` (the text after "sim:"); null with *error
// set when no factory is registered or the selector names no known chip.
std::unique_ptr<WirePeer> makeSimPeer(const QString& selector, QString* error);

class SimWireDevice;

// The boards behind "sim:" ports: one per selector for the life of the
// process, as a board stays plugged in while its port is closed and opened
// again.  Made at the first open.
std::shared_ptr<SimWireDevice> simBoard(const QString& selector, QString* error);
// The board of `selector` if one was made; null otherwise.
std::shared_ptr<SimWireDevice> findSimBoard(const QString& selector);
// Every board made so far, by selector.
std::vector<std::pair<QString, std::shared_ptr<SimWireDevice>>> simBoards();
// Lets go of every board (their chips end, which writes requested dumps).
// Ports still open keep their board alive until they close.
void releaseSimBoards();

} // namespace talvo
