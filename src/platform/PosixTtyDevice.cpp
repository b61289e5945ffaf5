#include "platform/PosixTtyDevice.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <thread>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/TtyTermios2.h"

namespace talvo {

namespace {

// Unix98 pty slaves use majors 136..143; the legacy BSD slaves major 3.
bool isPtyDevice(const struct stat& st) {
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

// How far a driver may round a requested rate before the setting counts as
// not taken: well inside what a UART receiver tolerates.
constexpr double kRateTolerance = 0.02;

} // namespace

std::unique_ptr<PosixTtyDevice> PosixTtyDevice::open(const QString& path, DeviceStatus* status) {
    auto fail = [&](int error, const QString& detail) -> std::unique_ptr<PosixTtyDevice> {
        if (status) *status = DeviceStatus::fromErrno(error, detail);
        return nullptr;
    };
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno, QStringLiteral("cannot open %1").arg(path));

    auto closeWith = [&](int error, const QString& detail) {
        ::close(fd);
        return fail(error, detail);
    };
    if (!isatty(fd)) return closeWith(ENOTTY, QStringLiteral("%1 is not a terminal device").arg(path));
    struct stat st {};
    if (fstat(fd, &st) < 0) return closeWith(errno, QStringLiteral("cannot examine %1").arg(path));
    // TIOCEXCL refuses other opens (except privileged ones); the advisory lock
    // also keeps out a second program that checks it, root included.
    if (tty::setExclusive(fd) != 0)
        return closeWith(errno, QStringLiteral("cannot get exclusive use of %1").arg(path));
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        const int e = errno;
        return closeWith(e == EWOULDBLOCK ? EBUSY : e, QStringLiteral("%1 is in use by another program").arg(path));
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) return closeWith(errno, QStringLiteral("cannot create the wake-up event for %1").arg(path));
    if (status) *status = {};
    return std::unique_ptr<PosixTtyDevice>(new PosixTtyDevice(path, fd, wakeFd, isPtyDevice(st)));
}

PosixTtyDevice::PosixTtyDevice(const QString& path, int fd, int wakeFd, bool pty)
    : SerialDevice(path), Fd(fd), WakeFd(wakeFd), Pty(pty) {}

PosixTtyDevice::~PosixTtyDevice() {
    const int fd = Fd.exchange(-1);
    if (fd >= 0) ::close(fd);
    ::close(WakeFd);
}

void PosixTtyDevice::waitForPtyLine() {
    if (!Pty) return;
    const auto now = std::chrono::steady_clock::now();
    // Bounded: at 1200 baud a whole 4 KB pty buffer would take 34 s.
    const auto until = std::min(PtyLineFree, now + std::chrono::seconds(2));
    if (until > now) std::this_thread::sleep_for(until - now);
}

DeviceStatus PosixTtyDevice::doConfigure(const LineSettings& s) {
    const int fd = Fd.load();
    if (fd < 0) return DeviceStatus::fromErrno(EBADF);
    waitForPtyLine();
    if (s.baud == 0) return DeviceStatus::fromErrno(EINVAL, QStringLiteral("baud rate 0 requested"));
    if (s.dataBits < 5 || s.dataBits > 8)
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("%1 data bits requested (5 to 8 possible)").arg(s.dataBits));
    if (s.parity > 4)
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("parity %1 requested (0 to 4 possible)").arg(s.parity));
    if (s.stopBits > 2)
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("stop bits code %1 requested (0 to 2 possible)").arg(s.stopBits));

    const bool skipFraming = Pty && (s.parity != 0 || s.dataBits != 8);
    if (skipFraming)
        traceNote(QStringLiteral("pseudo-terminal: %1 data bits with parity %2 not applied, it carries 8 bits without parity")
                      .arg(s.dataBits)
                      .arg(QLatin1Char("NOEMS"[s.parity])));
    tty::Line want;
    want.inputBaud = want.outputBaud = s.baud;
    want.parity = s.parity;
    want.dataBits = s.dataBits;
    // One and a half stop bits exist only with 5 data bits; Linux has one or two.
    want.twoStopBits = s.stopBits != 0;
    if (int e = tty::setLine(fd, want, Pty)) {
        return DeviceStatus::fromErrno(e, QStringLiteral("the driver refused %1 baud, %2 data bits, parity %3")
                                              .arg(s.baud)
                                              .arg(s.dataBits)
                                              .arg(s.parity));
    }
    // A driver may accept the call and drop a flag: read the settings back.
    tty::Line got;
    if (int e = tty::getLine(fd, &got)) return DeviceStatus::fromErrno(e, QStringLiteral("cannot read the settings back"));
    const auto rateOff = [&](uint32_t actual) {
        return std::fabs(static_cast<double>(actual) - s.baud) > kRateTolerance * s.baud;
    };
    if (rateOff(got.outputBaud) || rateOff(got.inputBaud))
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("the device runs at %1/%2 baud after %3 baud was set")
                                                   .arg(got.outputBaud)
                                                   .arg(got.inputBaud)
                                                   .arg(s.baud));
    if (!Pty && (got.dataBits != s.dataBits || got.parity != s.parity))
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("the device took %1 data bits with parity %2 after %3 with parity %4 was set")
                                                   .arg(got.dataBits)
                                                   .arg(got.parity)
                                                   .arg(s.dataBits)
                                                   .arg(s.parity));
    if (got.twoStopBits != want.twoStopBits && !Pty)
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("the device did not take the stop bits code %1").arg(s.stopBits));
    if (!got.raw) return DeviceStatus::fromErrno(EINVAL, QStringLiteral("the device did not take raw mode"));
    return {};
}

DeviceIo PosixTtyDevice::doWrite(const uint8_t* data, size_t n, std::chrono::milliseconds timeout) {
    DeviceIo io;
    const int fd = Fd.load();
    if (fd < 0) {
        io.error = EBADF;
        return io;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (io.count < n) {
        const ssize_t w = ::write(fd, data + io.count, n - io.count);
        if (w > 0) {
            io.count += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w == 0 || errno != EAGAIN) {
            io.error = w == 0 ? EIO : errno;
            return io;
        }
        // The driver's queue is full: wait until it takes more or time is up.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            io.error = ETIMEDOUT;
            return io;
        }
        struct pollfd p {fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0 && errno != EINTR) {
            io.error = errno;
            return io;
        }
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
            io.error = EIO;
            return io;
        }
    }
    // The write is complete when the driver has handed the bytes to the
    // converter: a close or purge right after it must not discard them.
    // Sleep for the time the queued characters need at the line's rate, then
    // look again (a pseudo-terminal reports an empty queue at once).
    const auto charTime = settings().charTime();
    if (Pty && io.count > 0)
        PtyLineFree = std::max(PtyLineFree, std::chrono::steady_clock::now()) + charTime * static_cast<long>(io.count);
    for (;;) {
        int queued = 0;
        if (tty::outputQueued(fd, &queued) != 0 || queued <= 0) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            io.error = ETIMEDOUT;
            break;
        }
        const auto need = std::max<std::chrono::nanoseconds>(charTime * queued, std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(need, deadline - now));
    }
    return io;
}

DeviceIo PosixTtyDevice::doRead(uint8_t* data, size_t n) {
    DeviceIo io;
    const int fd = Fd.load();
    if (fd < 0) {
        io.error = EBADF;
        return io;
    }
    for (;;) {
        const ssize_t r = ::read(fd, data, n);
        if (r > 0) {
            io.count = static_cast<size_t>(r);
            return io;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno == EAGAIN) return io;
        // 0 from a tty with VMIN 1 in non-blocking mode means it was hung up.
        io.error = r == 0 ? EIO : errno;
        return io;
    }
}

WaitStatus PosixTtyDevice::waitReadable(int timeoutMs) {
    const int fd = Fd.load();
    struct pollfd p[2] = {{WakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    const int count = fd >= 0 ? 2 : 1;
    for (;;) {
        const int r = ::poll(p, static_cast<nfds_t>(count), timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return WaitStatus::Failed;
        if (r == 0) return WaitStatus::TimedOut;
        if (p[0].revents & POLLIN) {
            uint64_t v;
            while (::read(WakeFd, &v, sizeof v) > 0) {
            }
            return WaitStatus::Woken;
        }
        if (count < 2) return WaitStatus::Failed;
        // A hung-up tty polls readable as well: it counts as readable only
        // while bytes are still held.
        if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            int held = 0;
            return tty::inputQueued(fd, &held) == 0 && held > 0 ? WaitStatus::Readable : WaitStatus::HungUp;
        }
        if (p[1].revents & POLLIN) return WaitStatus::Readable;
    }
}

void PosixTtyDevice::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(WakeFd, &one, sizeof one);
}

DeviceStatus PosixTtyDevice::setModemLine(bool rts, bool on) {
    const int fd = Fd.load();
    if (fd < 0) return DeviceStatus::fromErrno(EBADF);
    if (Pty) {
        if (!NotedModemLines.exchange(true))
            traceNote(QStringLiteral("pseudo-terminal: RTS and DTR changes are not carried"));
        return {};
    }
    if (int e = tty::setModemLine(fd, rts, on))
        return DeviceStatus::fromErrno(e, QStringLiteral("cannot %1 %2").arg(on ? "raise" : "lower", rts ? "RTS" : "DTR"));
    return {};
}

DeviceStatus PosixTtyDevice::doSetRts(bool on) { return setModemLine(true, on); }
DeviceStatus PosixTtyDevice::doSetDtr(bool on) { return setModemLine(false, on); }

DeviceStatus PosixTtyDevice::doPurge() {
    const int fd = Fd.load();
    if (fd < 0) return DeviceStatus::fromErrno(EBADF);
    // On a pseudo-terminal the output queue is what the other end has not
    // read yet -- bytes a real line would already have carried (a write ends
    // only when they have left): flushing it would take them back.
    if (Pty) return DeviceStatus::fromErrno(tty::flushInput(fd));
    return DeviceStatus::fromErrno(tty::flushBoth(fd));
}

DeviceIo PosixTtyDevice::doBytesHeld() {
    DeviceIo io;
    const int fd = Fd.load();
    if (fd < 0) {
        io.error = EBADF;
        return io;
    }
    int n = 0;
    io.error = tty::inputQueued(fd, &n);
    io.count = n > 0 ? static_cast<size_t>(n) : 0;
    return io;
}

DeviceStatus PosixTtyDevice::doClose() {
    if (Fd.load() >= 0) waitForPtyLine();
    const int fd = Fd.exchange(-1);
    if (fd < 0) return {};
    if (::close(fd) < 0 && errno != EINTR) return DeviceStatus::fromErrno(errno);
    return {};
}

} // namespace talvo
