#include "platform/SimRegistry.h"

#include <map>
#include <mutex>

#include "platform/SimWireDevice.h"

namespace talvo {

namespace {
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
SimPeerFactory& registryFactory() {
    static SimPeerFactory f;
    return f;
}
} // namespace

void setSimPeerFactory(SimPeerFactory factory) {
    std::lock_guard lock(registryMutex());
    registryFactory() = std::move(factory);
}

std::unique_ptr<WirePeer> makeSimPeer(const QString& selector, QString* error) {
    SimPeerFactory f;
    {
        std::lock_guard lock(registryMutex());
        f = registryFactory();
    }
    if (!f) {
        if (error) *error = QStringLiteral("no chip simulators are built into this program");
        return nullptr;
    }
    return f(selector, error);
}

namespace {
std::map<QString, std::shared_ptr<SimWireDevice>>& boardMap() {
    static std::map<QString, std::shared_ptr<SimWireDevice>> boards;
    return boards;
}
std::mutex& boardMutex() {
    static std::mutex m;
    return m;
}
} // namespace

std::shared_ptr<SimWireDevice> simBoard(const QString& selector, QString* error) {
    std::lock_guard lock(boardMutex());
    auto& boards = boardMap();
    if (auto it = boards.find(selector); it != boards.end()) return it->second;
    std::unique_ptr<WirePeer> peer = makeSimPeer(selector, error);
    if (!peer) return nullptr;
    auto board = std::make_shared<SimWireDevice>(QString::fromLatin1(kSimPortPrefix) + selector, std::move(peer));
    boards[selector] = board;
    return board;
}

std::shared_ptr<SimWireDevice> findSimBoard(const QString& selector) {
    std::lock_guard lock(boardMutex());
    auto it = boardMap().find(selector);
    return it == boardMap().end() ? nullptr : it->second;
}

std::vector<std::pair<QString, std::shared_ptr<SimWireDevice>>> simBoards() {
    std::lock_guard lock(boardMutex());
    return {boardMap().begin(), boardMap().end()};
}

void releaseSimBoards() {
    std::map<QString, std::shared_ptr<SimWireDevice>> gone;
    {
        std::lock_guard lock(boardMutex());
        gone.swap(boardMap());
    }
    // Destroyed here, outside the lock: each joins its wire thread.
}

} // namespace talvo
