#pragma once
// The simulated boards behind "sim:" ports.

#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace talvo {

class SimWireDevice;

// The boards behind "sim:" ports of one set: one per selector, made at the
// first open, which stays plugged in while its port is closed and opened
// again.  A device factory opens "sim:" ports on its own set or, by
// default, on the process's (the window's terminal, port test and downloads
// reach the same board there).  Two sets never share a board: downloads on
// separate sets may even name the same selector.
class SimBoardSet {
public:
    SimBoardSet() = default;
    ~SimBoardSet();
    SimBoardSet(const SimBoardSet&) = delete;
    SimBoardSet& operator=(const SimBoardSet&) = delete;

    // The board of `selector`, made now when there is none; null with *error
    // set when the selector names no simulator.
    std::shared_ptr<SimWireDevice> board(const QString& selector, QString* error);
    // The board of `selector` if one was made; null otherwise.
    std::shared_ptr<SimWireDevice> find(const QString& selector) const;
    // Every board made so far, by selector.
    std::vector<std::pair<QString, std::shared_ptr<SimWireDevice>>> all() const;
    // Lets go of every board (their chips end, which writes requested dumps).
    // Ports still open keep their board alive until they close.
    void release();

private:
    mutable std::mutex Mutex;
    std::map<QString, std::shared_ptr<SimWireDevice>> Boards;
};

// The process's set: the one the "sim:" ports of the window and of the
// command line are opened on.
SimBoardSet& processSimBoards();

// The same, on the process's set.
std::shared_ptr<SimWireDevice> simBoard(const QString& selector, QString* error);
std::shared_ptr<SimWireDevice> findSimBoard(const QString& selector);
std::vector<std::pair<QString, std::shared_ptr<SimWireDevice>>> simBoards();
void releaseSimBoards();

} // namespace talvo
