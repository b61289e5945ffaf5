#pragma once
// A tiny chip for the simulated wire: records what the host's UART sent and
// the modem-line changes, and answers by a rule the test sets.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Wire.h"

namespace talvo::test {

inline LineSettings line(uint32_t baud, uint8_t parity = 0) {
    LineSettings s;
    s.baud = baud;
    s.parity = parity;
    return s;
}

struct PeerLog {
    struct Byte {
        uint8_t value;
        LineSettings host;
        WireClock::time_point at;
    };
    struct Lines {
        ModemLines lines;
        WireClock::time_point at;
    };

    std::mutex mutex;
    std::vector<Byte> bytes;
    std::vector<Lines> lines;
    std::vector<bool> opens;
    std::atomic<WireLink*> link{nullptr};
    // Called for every host byte (on the wire thread); may answer through link.
    std::function<void(WireLink&, const PeerLog::Byte&)> answer;

    std::vector<Byte> takeBytes() {
        std::lock_guard lock(mutex);
        return bytes;
    }
    size_t byteCount() {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
    std::vector<Lines> takeLines() {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::vector<bool> takeOpens() {
        std::lock_guard lock(mutex);
        return opens;
    }
};

// Echoes every byte back with the host's own settings unless the log's
// `answer` says otherwise.
class TestPeer : public WirePeer {
public:
    explicit TestPeer(std::shared_ptr<PeerLog> log) : Log(std::move(log)) {}
    void attach(WireLink* link) override { Log->link = link; }
    void onHostByte(uint8_t byte, const LineSettings& host, WireClock::time_point at) override {
        const PeerLog::Byte b{byte, host, at};
        {
            std::lock_guard lock(Log->mutex);
            Log->bytes.push_back(b);
        }
        WireLink* link = Log->link.load();
        if (Log->answer)
            Log->answer(*link, b);
        else
            link->sendToHost(&byte, 1, host, at);
    }
    void onModemLines(const ModemLines& lines, WireClock::time_point at) override {
        std::lock_guard lock(Log->mutex);
        Log->lines.push_back({lines, at});
    }
    void onHostOpen(bool open, WireClock::time_point) override {
        std::lock_guard lock(Log->mutex);
        Log->opens.push_back(open);
    }

private:
    std::shared_ptr<PeerLog> Log;
};

} // namespace talvo::test
