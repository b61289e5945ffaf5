#include "sim/PtyServer.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/TtyTermios2.h"

namespace talvo::sim {

namespace {

std::atomic<int> gStopWrite{-1};
int gStopRead = -1;

std::string errnoText(const std::string& what, int e) { return what + ": " + std::strerror(e); }

constexpr char kPtySlavePrefix[] = "/dev/pts/";

// Where the symbolic link at `path` points ("" when it is none).
std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n > 0 && size_t(n) < sizeof target ? std::string(target, size_t(n)) : std::string();
}

// The links this simulator makes point at a pseudo-terminal's slave,
// /dev/pts/N; such a link may be replaced (a simulator that was killed left
// it, or ours is moved to a new pty).  Nothing else at the link's path is.
bool isPtyLink(const std::string& path) {
    const std::string target = linkTarget(path);
    const size_t prefix = sizeof kPtySlavePrefix - 1;
    if (target.size() <= prefix || target.compare(0, prefix, kPtySlavePrefix) != 0) return false;
    return target.find_first_not_of("0123456789", prefix) == std::string::npos;
}

} // namespace

void PtyServer::requestStop() {
    const int fd = gStopWrite.load();
    if (fd >= 0) {
        const char c = 'q';
        [[maybe_unused]] const auto n = ::write(fd, &c, 1);
    }
}

PtyServer::PtyServer(SimChip& chip, Options options) : chip_(chip), options_(std::move(options)) {}

PtyServer::~PtyServer() {
    // Only our link, and only while it still points at our pty: never a file
    // that was there, nor one put in its place since.
    if (linkMade_ && linkTarget(options_.link) == slavePath_) ::unlink(options_.link.c_str());
    closePty();
}

void PtyServer::tr(const std::string& text) const {
    if (options_.trace) options_.trace(text);
}

bool PtyServer::openPty(std::string* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return *error = errnoText("posix_openpt", errno), false;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return *error = errnoText("grantpt/unlockpt", errno), false;
    const char* name = ::ptsname(master_);
    if (!name) return *error = errnoText("ptsname", errno), false;
    slavePath_ = name;
    // Our own slave descriptor keeps the pty alive between host sessions.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return *error = errnoText("open " + slavePath_, errno), false;
    termios t{};
    if (::tcgetattr(slave_, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || ::inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        return *error = errnoText("inotify on " + slavePath_, errno), false;
    hostOpens_ = 0;
    out_.clear();
    return true;
}

void PtyServer::closePty() {
    for (int* fd : {&inotify_, &slave_, &master_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

bool PtyServer::makeLink(std::string* error) {
    const std::string& link = options_.link;
    if (link.empty()) return true;
    const auto failed = [&](int e) {
        return *error = errnoText("cannot make the link " + link + " -> " + slavePath_, e), false;
    };
    struct stat st {};
    if (::lstat(link.c_str(), &st) != 0) {
        if (errno != ENOENT) return failed(errno);
        // Absent: made in place, which fails if something appeared meanwhile.
        if (::symlink(slavePath_.c_str(), link.c_str()) != 0) return failed(errno);
        linkMade_ = true;
        return true;
    }
    if (!isPtyLink(link))
        return *error = link + " exists and is not a link to a pseudo-terminal (/dev/pts/N); it is left as it is: "
                               "remove it or choose another path",
               false;
    // A pty link: replaced at once by a new link made beside it under a name
    // of its own (never a file that is there).
    std::string fresh;
    for (int i = 0;; ++i) {
        fresh = link + ".talvo-" + std::to_string(::getpid()) + "-" + std::to_string(i);
        if (::symlink(slavePath_.c_str(), fresh.c_str()) == 0) break;
        if (errno != EEXIST || i >= 100) return failed(errno);
    }
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        const int e = errno;
        ::unlink(fresh.c_str());
        return failed(e);
    }
    linkMade_ = true;
    return true;
}

bool PtyServer::start(std::string* error) {
    if (gStopRead < 0) {
        int p[2];
        if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return *error = errnoText("pipe", errno), false;
        gStopRead = p[0];
        gStopWrite = p[1];
    }
    if (!openPty(error) || !makeLink(error)) return false;
    chip_.setPtyMode(true);
    chip_.attach(this);
    rxFree_ = txFree_ = now();
    if (options_.announce) options_.announce(slavePath_);
    return true;
}

LineSettings PtyServer::hostSettings() const {
    LineSettings s;
    tty::Line line;
    if (tty::getLine(master_, &line) == 0) {
        s.baud = line.outputBaud ? line.outputBaud : line.inputBaud;
        s.dataBits = line.dataBits;
        s.stopBits = line.twoStopBits ? 2 : 0;
    }
    // A pty has no parity: the host is taken to use the chip's.
    s.parity = chip_.nativeParity();
    return s;
}

void PtyServer::sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, WireClock::time_point notBefore) {
    if (hostOpens_ == 0) {
        // Nobody has the port open: the bytes go out on a wire nobody listens to.
        tr("chip> " + std::to_string(n) + " bytes lost: the port is closed");
        return;
    }
    const LineSettings host = hostSettings();
    WireClock::time_point t = std::max(notBefore, txFree_);
    const WireClock::time_point first = t;
    for (size_t i = 0; i < n; ++i) {
        t += peer.charTime();
        const UartChar c = uartReceive(data[i], peer, host, kUartTolerance);
        if (!c.received) continue;
        // A Linux tty without IGNPAR/PARMRK delivers NUL for a character with a framing or parity error.
        const uint8_t v = (c.framingError || c.parityError) ? 0x00 : c.value;
        out_.push_back({options_.pace ? t : first, v});
    }
    txFree_ = options_.pace ? t : first;
}

void PtyServer::writeDue(WireClock::time_point now) {
    std::string batch;
    while (!out_.empty() && out_.front().due <= now) {
        batch.push_back(static_cast<char>(out_.front().value));
        out_.pop_front();
    }
    size_t done = 0;
    while (done < batch.size()) {
        const ssize_t w = ::write(master_, batch.data() + done, batch.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        break; // full (nobody reads): the rest is lost, as bytes on a wire nobody listens to
    }
    if (done) tr("chip> " + hexBytes(reinterpret_cast<const uint8_t*>(batch.data()), done));
    if (done < batch.size()) tr("chip> " + std::to_string(batch.size() - done) + " bytes lost: the host does not read");
}

bool PtyServer::readHost(std::string* error, const LineSettings* settings) {
    uint8_t buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR || errno == EIO) return true;
        *error = errnoText("read " + slavePath_, errno);
        return false;
    }
    if (n == 0) return true;
    LineSettings host;
    if (settings) {
        host = *settings;
    } else {
        fetchInotify();
        host = settingsOfWaitingBytes();
    }
    lastHost_ = host;
    char head[48];
    std::snprintf(head, sizeof head, "host> (%u baud) ", host.baud);
    tr(head + hexBytes(buf, static_cast<size_t>(n)));
    for (ssize_t i = 0; i < n; ++i) {
        const WireClock::time_point end = std::max(now(), rxFree_) + host.charTime();
        rxFree_ = end;
        chip_.onHostByte(buf[i], host, end);
    }
    return true;
}

void PtyServer::fetchInotify() {
    alignas(inotify_event) char buf[4096];
    while (true) {
        const ssize_t n = ::read(inotify_, buf, sizeof buf);
        if (n <= 0) return;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            pendingEvents_.push_back(ev->mask);
        }
    }
}

LineSettings PtyServer::settingsOfWaitingBytes() const {
    // A host that paces its port (as a line would: a close or a new rate
    // waits until its bytes have gone) leaves no bytes of a session behind
    // its close: bytes waiting now were sent with the settings of now, also
    // when a close and a new open are pending (the slave keeps the settings
    // of its last session while it is closed).  Only a host that writes,
    // closes and opens with a new rate while the simulator is not scheduled
    // at all can still be heard at the wrong rate.
    return hostSettings();
}

void PtyServer::readInotify() {
    fetchInotify();
    while (!pendingEvents_.empty()) {
        const uint32_t mask = pendingEvents_.front();
        pendingEvents_.pop_front();
        if (mask & IN_OPEN) {
            if (hostOpens_++ == 0) {
                tr("host opened the port");
                lastHost_ = hostSettings();
                out_.clear();
                chip_.onHostOpen(true, now());
            }
        } else if (mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
            if (hostOpens_ > 0 && --hostOpens_ == 0) {
                // What the host wrote before closing left at its settings of then.
                const LineSettings before = settingsOfWaitingBytes();
                std::string ignored;
                for (int i = 0; i < 16 && readHost(&ignored, &before); ++i) {
                    pollfd p{master_, POLLIN, 0};
                    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
                }
                tr("host closed the port");
                chip_.onHostOpen(false, now());
                out_.clear();
                ::tcflush(slave_, TCIOFLUSH); // nothing stale for the next session
            }
        }
    }
}

int PtyServer::serve(std::string* error) {
    while (true) {
        // Opens and closes first, so that the chip's answers go to the port as it is now.
        readInotify();
        const auto t = now();
        chip_.onTimer(t);
        writeDue(t);
        if (hangUpRequested_) {
            hangUpRequested_ = false;
            tr("hang-up: the pty is closed and a new one made");
            closePty();
            if (!openPty(error) || !makeLink(error)) return 1;
            if (options_.announce) options_.announce(slavePath_);
            continue;
        }
        std::optional<WireClock::time_point> wake = chip_.nextWake();
        if (!out_.empty() && (!wake || out_.front().due < *wake)) wake = out_.front().due;
        int timeoutMs = 1000;
        if (wake) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*wake - now()).count() + 1;
            timeoutMs = static_cast<int>(std::clamp<long long>(ms, 0, 1000));
        }
        pollfd fds[3] = {{master_, POLLIN, 0}, {inotify_, POLLIN, 0}, {gStopRead, POLLIN, 0}};
        const int r = ::poll(fds, 3, timeoutMs);
        if (r < 0 && errno != EINTR) {
            *error = errnoText("poll", errno);
            return 1;
        }
        if (r <= 0) continue;
        if (fds[2].revents & POLLIN) return 0;
        if (fds[1].revents & POLLIN) readInotify();
        if (fds[0].revents & POLLIN) {
            if (!readHost(error)) return 1;
        }
    }
}

} // namespace talvo::sim
