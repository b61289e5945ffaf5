#pragma once
// A pseudo-terminal pair for tests: the test holds the master, the code
// under test opens the slave by its path.

#include <QString>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

namespace talvo::test {

class PtyPair {
public:
    PtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        char name[128];
        if (ptsname_r(master, name, sizeof name) == 0) slavePath = QString::fromLocal8Bit(name);
    }
    ~PtyPair() { closeMaster(); }
    bool ok() const { return master >= 0 && !slavePath.isEmpty(); }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }

    // Reads exactly n bytes from the master within `timeout`.
    std::vector<uint8_t> readMaster(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::vector<uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            uint8_t buf[4096];
            const ssize_t r = ::read(master, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    bool writeMaster(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t w = ::write(master, bytes.data() + done, bytes.size() - done);
            if (w > 0)
                done += static_cast<size_t>(w);
            else if (w < 0 && errno != EAGAIN)
                return false;
        }
        return true;
    }

    int master = -1;
    QString slavePath;
};

} // namespace talvo::test
