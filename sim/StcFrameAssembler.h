#pragma once
// Finds the host's STC frames (46 B9 6A L ... 16) in the characters a
// simulated chip's UART makes out, as the bootloaders do: bytes outside a
// frame are collected as stray (or taken by the chip as sync and calibration
// pulses), a frame whose start, length or timing is wrong is given up, and a
// complete frame is handed over with whether any of its characters had a
// parity or framing error.  The chip judges the frame's content.

#include <functional>
#include <optional>
#include <string>

#include "sim/SimChip.h"

namespace talvo::sim {

class StcFrameAssembler {
public:
    struct Hooks {
        // A complete frame by its length field; `garbled`: a character had an error.
        std::function<void(Bytes frame, bool garbled, TimePoint at)> frame;
        // Bytes the chip cannot use (stray bytes, a frame given up), with why.
        std::function<void(const Bytes& bytes, TimePoint at, const std::string& why)> reject;
        // A clean byte outside a frame: true when the chip takes it (a sync or
        // calibration pulse) rather than as a stray byte.  `strayPending`:
        // stray bytes came before it.
        std::function<bool(uint8_t byte, bool strayPending, TimePoint at)> pulse;
    };

    StcFrameAssembler(Hooks hooks, double frameGap) : hooks_(std::move(hooks)), frameGap_(frameGap) {}

    // One character; `bad` when it had a parity or framing error.
    void feed(uint8_t byte, bool bad, TimePoint at);
    // Gives up a partial frame and reports stray bytes (after a pause).
    void abandon();
    // When a partial frame or stray bytes are due to be given up.
    std::optional<TimePoint> wake() const;
    void reset();

private:
    void flushStray();

    Hooks hooks_;
    double frameGap_;
    Bytes buf_;
    size_t expected_ = 0;
    bool garbled_ = false;
    Bytes stray_;
    TimePoint strayAt_{};
    TimePoint lastCharAt_{};
};

// The host's sync stream before a bootloader's first answer: 7F characters
// at the rate the host chose.  The chip answers once two have come and
// `delay` has passed since the first began.
class StcSyncBurst {
public:
    void reset(TimePoint now) {
        count_ = 0;
        start_ = now;
        baud_ = 0;
    }
    // One character; true when the answer is due at `at`.
    bool hear(const UartChar& c, const LineSettings& host, TimePoint at, double delay) {
        if (c.value != 0x7F || c.framingError) return false;
        if (count_ == 0) start_ = at - host.charTime();
        ++count_;
        baud_ = host.baud;
        return count_ >= 2 && at >= dueAt(delay);
    }
    // When the answer is due, once two 7F have come.
    std::optional<TimePoint> due(double delay) const {
        if (count_ < 2) return std::nullopt;
        return dueAt(delay);
    }
    bool heardNothing() const { return count_ == 0; }
    uint32_t baud() const { return baud_; }

private:
    TimePoint dueAt(double delay) const {
        return start_ + std::chrono::duration_cast<WireClock::duration>(std::chrono::duration<double>(delay));
    }
    int count_ = 0;
    TimePoint start_{};
    uint32_t baud_ = 0;
};

} // namespace talvo::sim
