#include "platform/PortWatch.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace talvo {

PortWatch::PortWatch(QString devRoot, Callback onChange, std::chrono::milliseconds settle)
    : DevRoot(devRoot.isEmpty() ? QStringLiteral("/dev") : std::move(devRoot)),
      OnChange(std::move(onChange)),
      Settle(settle) {}

PortWatch::~PortWatch() { stop(); }

bool PortWatch::start(QString* error) {
    if (Running.load()) return true;
    stop(); // a thread that ended on an error is joined first
    auto fail = [&](const QString& what) {
        if (error)
            *error = QStringLiteral("cannot watch %1 for serial ports: %2 (%3)")
                         .arg(DevRoot, what, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return fail(QStringLiteral("inotify_init1"));
    if (inotify_add_watch(fd, QFile::encodeName(DevRoot).constData(),
                          IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return fail(QStringLiteral("inotify_add_watch"));
    }
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (WakeFd < 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return fail(QStringLiteral("eventfd"));
    }
    Running = true;
    Thread = std::thread([this, fd] { run(fd); });
    return true;
}

void PortWatch::stop() {
    if (!Thread.joinable()) return;
    // Wake the thread first, then clear the flag it checks between waits.
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(WakeFd, &one, sizeof one);
    Running = false;
    Thread.join();
    ::close(WakeFd);
    WakeFd = -1;
}

void PortWatch::run(int inotifyFd) {
    bool pending = false;
    bool failed = false;
    alignas(struct inotify_event) char buffer[4096];
    while (Running.load() && !failed) {
        struct pollfd p[2] = {{WakeFd, POLLIN, 0}, {inotifyFd, POLLIN, 0}};
        // Once a change was seen, wait for the burst to settle before telling.
        const int r = ::poll(p, 2, pending ? static_cast<int>(Settle.count()) : -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) break; // a failed wait ends the watch
        if (p[0].revents & POLLIN) break;
        if (r == 0) {
            pending = false;
            if (OnChange) OnChange();
            continue;
        }
        if (p[1].revents & (POLLERR | POLLHUP | POLLNVAL)) break;
        for (;;) {
            const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const struct inotify_event*>(buffer + off);
                if (ev->len > 0 && std::strncmp(ev->name, "tty", 3) == 0) pending = true;
                if (ev->mask & IN_Q_OVERFLOW) pending = true;
                // The folder itself was removed or unmounted: nothing more comes.
                if (ev->mask & IN_IGNORED) failed = true;
                off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            }
        }
    }
    ::close(inotifyFd);
    // Ports that went with the folder are a change too.
    if (failed && pending && OnChange) OnChange();
    // Whether stopped or ended on an error, the watch no longer runs.
    Running = false;
}

} // namespace talvo
