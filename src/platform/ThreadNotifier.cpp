#include "platform/ThreadNotifier.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace talvo {

ThreadNotifier::ThreadNotifier(std::function<void()> handler, QObject* parent)
    : QObject(parent), Handler(std::move(handler)) {
    Fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (Fd < 0) return;
    Notifier = new QSocketNotifier(Fd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] { drain(); });
}

ThreadNotifier::~ThreadNotifier() {
    delete Notifier;
    if (Fd >= 0) ::close(Fd);
}

void ThreadNotifier::notify() {
    if (Fd < 0) return;
    const uint64_t one = 1;
    while (::write(Fd, &one, sizeof one) < 0 && errno == EINTR) {}
}

void ThreadNotifier::drain() {
    uint64_t count = 0;
    ssize_t r;
    while ((r = ::read(Fd, &count, sizeof count)) < 0 && errno == EINTR) {}
    if (r != static_cast<ssize_t>(sizeof count)) return;
    for (uint64_t i = 0; i < count && Handler; ++i) Handler();
}

} // namespace talvo
