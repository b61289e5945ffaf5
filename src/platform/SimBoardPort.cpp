#include "platform/SimBoardPort.h"

#include <cerrno>

namespace talvo {

std::unique_ptr<SimBoardPort> SimBoardPort::open(const QString& name, std::shared_ptr<SimWireDevice> board,
                                                 DeviceStatus* status) {
    {
        std::lock_guard lock(board->Mutex);
        if (board->PortHeld) {
            if (status)
                *status = DeviceStatus::fromErrno(EBUSY, QStringLiteral("%1 is open in another port").arg(name));
            return nullptr;
        }
        board->PortHeld = true;
    }
    // A board fresh from the registry is open already; one whose port was
    // closed opens again.
    board->reopen();
    if (status) *status = {};
    return std::unique_ptr<SimBoardPort>(new SimBoardPort(name, std::move(board)));
}

SimBoardPort::~SimBoardPort() {
    doClose();
    std::lock_guard lock(Board->Mutex);
    Board->PortHeld = false;
}

DeviceStatus SimBoardPort::doClose() {
    if (Closed) return {};
    Closed = true;
    return Board->doClose();
}

} // namespace talvo
