#pragma once
// A deterministic wire in virtual time for the chip simulator tests: the
// test plays the host (its bytes, settings and modem lines, at chosen times)
// and gets back what the host's UART made of the chip's answers, with times.

#include <algorithm>
#include <deque>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Wire.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"

namespace talvo::simtest {

using sim::Bytes;
using sim::TimePoint;
using namespace std::chrono_literals;

inline LineSettings line(uint32_t baud, uint8_t parity = 0) {
    LineSettings s;
    s.baud = baud;
    s.parity = parity;
    return s;
}

class VirtualWire : public WireLink {
public:
    struct Heard {
        TimePoint at; // end of the character
        uint8_t value;
        bool error; // framing or parity error at the host's UART
    };

    explicit VirtualWire(WirePeer& peer, LineSettings host = line(9600)) : peer_(peer), host_(host) {
        now_ = TimePoint{} + std::chrono::hours(1);
        txFree_ = now_;
        peer_.attach(this);
    }

    // WireLink
    void sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, TimePoint notBefore) override {
        TimePoint t = std::max(notBefore, chipTxFree_);
        for (size_t i = 0; i < n; ++i) {
            t += peer.charTime();
            inflight_.push_back({t, data[i], peer});
        }
        chipTxFree_ = t;
    }
    TimePoint now() const override { return now_; }
    void hangUp() override { ++hangUps; }

    void setHost(const LineSettings& s) { host_ = s; }
    const LineSettings& host() const { return host_; }
    void setLines(bool rts, bool dtr) {
        ModemLines m;
        m.rts = rts;
        m.dtr = dtr;
        peer_.onModemLines(m, now_);
    }
    void open(bool on) { peer_.onHostOpen(on, now_); }

    // The host's UART sends `bytes` back to back, starting now (or when its
    // previous character has left).
    void send(const Bytes& bytes) {
        for (uint8_t b : bytes) {
            const TimePoint end = std::max(now_, txFree_) + host_.charTime();
            runUntil(end);
            txFree_ = end;
            peer_.onHostByte(b, host_, end);
        }
    }
    // Lets virtual time pass, serving the chip's timers and deliveries.
    void run(std::chrono::nanoseconds d) { runUntil(now_ + d); }
    void runUntil(TimePoint until) {
        while (true) {
            TimePoint next = until;
            if (auto w = peer_.nextWake(); w && *w < next) next = *w;
            if (!inflight_.empty() && inflight_.front().end < next) next = inflight_.front().end;
            if (next > now_) now_ = next;
            deliver();
            if (auto w = peer_.nextWake(); w && *w <= now_) {
                peer_.onTimer(now_);
                continue;
            }
            if (now_ >= until && (inflight_.empty() || inflight_.front().end > now_)) break;
        }
    }
    // Sends a frame and waits up to `limit` for `n` bytes (or for silence).
    Bytes exchange(const Bytes& frame, size_t n, std::chrono::nanoseconds limit = 10s) {
        heard.clear();
        send(frame);
        const TimePoint end = now_ + limit;
        while (now_ < end && heard.size() < n) run(1ms);
        return values();
    }
    Bytes values() const {
        Bytes v;
        for (const auto& h : heard) v.push_back(h.value);
        return v;
    }

    std::vector<Heard> heard;
    int hangUps = 0;

private:
    struct InFlight {
        TimePoint end;
        uint8_t byte;
        LineSettings peer;
    };
    void deliver() {
        while (!inflight_.empty() && inflight_.front().end <= now_) {
            const InFlight f = inflight_.front();
            inflight_.pop_front();
            const UartChar c = uartReceive(f.byte, f.peer, host_, kUartTolerance);
            if (c.received) heard.push_back({f.end, c.value, c.framingError || c.parityError});
        }
    }

    WirePeer& peer_;
    LineSettings host_;
    TimePoint now_;
    TimePoint txFree_;
    TimePoint chipTxFree_{};
    std::deque<InFlight> inflight_;
};

// A chip of a known kind from its selector (a test failure when the selector is refused).
template <class Chip>
std::unique_ptr<Chip> makeAs(const std::string& selector) {
    std::string err;
    auto chip = sim::makeChip(selector, &err);
    EXPECT_TRUE(chip) << err;
    return std::unique_ptr<Chip>(dynamic_cast<Chip*>(chip.release()));
}
inline std::unique_ptr<sim::StcChip> stc(const std::string& selector) { return makeAs<sim::StcChip>(selector); }

// The host's sync stream (7F 7F every 14 ms) until the chip answers, then
// the answer's `frameLen` bytes (fewer when `limit` runs out).
inline Bytes sync(VirtualWire& w, size_t frameLen, std::chrono::milliseconds limit = 3000ms) {
    w.heard.clear();
    const TimePoint end = w.now() + limit;
    while (w.now() < end && w.heard.empty()) {
        w.send({0x7F, 0x7F});
        w.run(14ms);
    }
    while (w.now() < end && w.heard.size() < frameLen) w.run(5ms);
    return w.values();
}

// STC frames as a host builds them (46 B9 6A L payload checksum 16).
inline Bytes stcHostFrame(const Bytes& payload, int form) {
    const size_t len = payload.size() + (form == 2 ? 6 : 5);
    Bytes f;
    f.reserve(len + 2);
    f = {0x46, 0xB9, 0x6A, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 2; i < f.size(); ++i) sum += f[i];
    if (form == 2) f.push_back(static_cast<uint8_t>(sum >> 8));
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

inline Bytes hexToBytes(const char* text) { return sim::bytesFromHex(text); }

} // namespace talvo::simtest
