// Folder watch with inotify.
#include "platform/FolderWatch.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace talvo {

namespace {
QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }
} // namespace

unsigned FolderWatch::watchMask() { return IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY; }

FolderWatch::FolderWatch(const QString& folder, std::atomic<bool>& changed, FailureCallback onFailure)
    : Folder(folder), Changed(changed), OnFailure(std::move(onFailure)) {}

FolderWatch::~FolderWatch() { stop(); }

QString FolderWatch::errorString() const {
    std::lock_guard<std::mutex> lock(ErrorMutex);
    return Error;
}

void FolderWatch::fail(const QString& reason) {
    std::lock_guard<std::mutex> lock(ErrorMutex);
    Error = reason;
}

bool FolderWatch::start() {
    if (Thread.joinable()) {
        if (Running.load())
            return true;
        stop(); // the thread ended after a failure: collect it and start afresh
    }
    const QByteArray path = QFile::encodeName(Folder);
    InotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (InotifyFd < 0) {
        fail(QStringLiteral("inotify_init1: %1").arg(errnoText(errno)));
        return false;
    }
    if (path.isEmpty() || ::inotify_add_watch(InotifyFd, path.constData(), watchMask() | IN_ONLYDIR) < 0) {
        const int err = path.isEmpty() ? ENOENT : errno;
        fail(QStringLiteral("inotify_add_watch(%1): %2").arg(Folder, errnoText(err)));
        ::close(InotifyFd);
        InotifyFd = -1;
        return false;
    }
    StopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (StopFd < 0) {
        fail(QStringLiteral("eventfd: %1").arg(errnoText(errno)));
        ::close(InotifyFd);
        InotifyFd = -1;
        return false;
    }
    Running = true;
    try {
        Thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        Running = false;
        fail(QStringLiteral("thread: %1").arg(QString::fromLocal8Bit(e.what())));
        ::close(StopFd);
        ::close(InotifyFd);
        StopFd = InotifyFd = -1;
        return false;
    }
    return true;
}

void FolderWatch::stop() {
    if (Thread.joinable()) {
        const uint64_t one = 1;
        while (::write(StopFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        Thread.join();
    }
    if (StopFd >= 0)
        ::close(StopFd);
    if (InotifyFd >= 0)
        ::close(InotifyFd);
    StopFd = InotifyFd = -1;
    Running = false;
}

void FolderWatch::run() {
    alignas(struct inotify_event) char buffer[16 * 1024];
    QString failure;
    for (;;) {
        pollfd fds[2] = {{InotifyFd, POLLIN, 0}, {StopFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failure = QStringLiteral("poll: %1").arg(errnoText(errno));
            break;
        }
        if (fds[1].revents)
            break; // stop requested
        if (!(fds[0].revents & POLLIN)) {
            failure = QStringLiteral("inotify descriptor error");
            break;
        }
        const ssize_t len = ::read(InotifyFd, buffer, sizeof buffer);
        if (len < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            failure = QStringLiteral("read: %1").arg(errnoText(errno));
            break;
        }
        bool ended = false;
        for (ssize_t off = 0; off < len;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
            // Subfolders made, renamed or moved in are no file change.
            const bool folder = ev->mask & IN_ISDIR;
            if ((ev->mask & watchMask()) && !folder)
                Changed.store(true);
            if (ev->mask & IN_Q_OVERFLOW)
                Changed.store(true); // events were lost: assume a write among them
            if (ev->mask & IN_IGNORED)
                ended = true;        // the folder was removed or unmounted
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
        if (ended) {
            failure = QStringLiteral("the folder %1 was removed or unmounted").arg(Folder);
            break;
        }
    }
    if (!failure.isEmpty()) {
        fail(failure);
        // Report before showing the watch as stopped: whoever sees running()
        // false can rely on the report having been made.
        if (OnFailure)
            OnFailure(failure);
        Running = false;
    }
}

} // namespace talvo
