#include "platform/SimBoardSet.h"

#include "platform/SimRegistry.h"
#include "platform/SimWireDevice.h"

namespace talvo {

SimBoardSet::~SimBoardSet() { release(); }

std::shared_ptr<SimWireDevice> SimBoardSet::board(const QString& selector, QString* error) {
    std::lock_guard lock(Mutex);
    if (auto it = Boards.find(selector); it != Boards.end()) return it->second;
    std::unique_ptr<WirePeer> peer = makeSimPeer(selector, error);
    if (!peer) return nullptr;
    auto made = std::make_shared<SimWireDevice>(QString::fromLatin1(kSimPortPrefix) + selector, std::move(peer));
    Boards[selector] = made;
    return made;
}

std::shared_ptr<SimWireDevice> SimBoardSet::find(const QString& selector) const {
    std::lock_guard lock(Mutex);
    auto it = Boards.find(selector);
    return it == Boards.end() ? nullptr : it->second;
}

std::vector<std::pair<QString, std::shared_ptr<SimWireDevice>>> SimBoardSet::all() const {
    std::lock_guard lock(Mutex);
    return {Boards.begin(), Boards.end()};
}

void SimBoardSet::release() {
    std::map<QString, std::shared_ptr<SimWireDevice>> gone;
    {
        std::lock_guard lock(Mutex);
        gone.swap(Boards);
    }
    // Destroyed here, outside the lock: each joins its wire thread.
}

SimBoardSet& processSimBoards() {
    static SimBoardSet boards;
    return boards;
}

std::shared_ptr<SimWireDevice> simBoard(const QString& selector, QString* error) {
    return processSimBoards().board(selector, error);
}
std::shared_ptr<SimWireDevice> findSimBoard(const QString& selector) { return processSimBoards().find(selector); }
std::vector<std::pair<QString, std::shared_ptr<SimWireDevice>>> simBoards() { return processSimBoards().all(); }
void releaseSimBoards() { processSimBoards().release(); }

} // namespace talvo
