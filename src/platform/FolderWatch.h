#pragma once
// Watches one folder (not its subfolders) for written files with inotify and
// sets a flag when any file of it is written, created, or renamed into it
// (editors that save by writing a temporary file and renaming it over the
// original show up as IN_MOVED_TO).  Subfolders made or renamed in it are no
// file change.
//
// A thread waits on the inotify descriptor and on an eventfd used to stop it;
// it touches only the atomic flag it was given.  Nothing here ends the process:
// a watch that cannot start says why through start()'s result and
// errorString(); a watch that fails later (the folder was removed, a read
// failed) stops and reports once through the failure callback, called on the
// watch thread.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace talvo {

class FolderWatch {
public:
    using FailureCallback = std::function<void(const QString& reason)>;

    FolderWatch(const QString& folder, std::atomic<bool>& changed, FailureCallback onFailure = {});
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Starts watching; false (and errorString()) when the folder cannot be
    // watched or the thread cannot be started.  Starting a running watch does
    // nothing and returns true.
    bool start();
    // Stops the thread and waits for it; safe to call more than once.
    void stop();

    bool running() const { return Running.load(); }
    const QString& folder() const { return Folder; }
    QString errorString() const;

    // The events that count as a write to a file of the folder.
    static unsigned watchMask();

private:
    void run();
    void fail(const QString& reason);

    QString Folder;
    std::atomic<bool>& Changed;
    FailureCallback OnFailure;
    int InotifyFd = -1;
    int StopFd = -1;
    std::thread Thread;
    std::atomic<bool> Running{false};
    mutable std::mutex ErrorMutex;
    QString Error;
};

} // namespace talvo
