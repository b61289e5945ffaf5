#pragma once
// Follows tty devices appearing in and leaving the device folder (/dev) with
// inotify, on a thread of its own, and calls `onChange` (on that thread) once
// per burst of changes, after the burst has settled for `settle`.  The
// callback only hands the news on (posts an event); it must not block.

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace talvo {

class PortWatch {
public:
    using Callback = std::function<void()>;

    PortWatch(QString devRoot, Callback onChange,
              std::chrono::milliseconds settle = std::chrono::milliseconds(150));
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // Starts watching; false with *error set when the folder cannot be
    // watched.  Starting a running watch does nothing; a watch that ended on
    // an error starts anew.
    bool start(QString* error = nullptr);
    // Wakes the thread, clears the running flag and waits for the thread.
    void stop();
    // True while the thread watches: false before start, after stop, and
    // once the watch ended on an error (the folder went away, a failed wait).
    bool running() const { return Running.load(); }

private:
    void run(int inotifyFd);

    QString DevRoot;
    Callback OnChange;
    std::chrono::milliseconds Settle;
    std::atomic<bool> Running{false};
    int WakeFd = -1;
    std::thread Thread;
};

} // namespace talvo
