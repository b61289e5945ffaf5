#include "sim/StcFrameAssembler.h"

#include <cstdio>

namespace talvo::sim {

namespace {
// Length fields the chips take: at least an empty form-1 frame, at most 512.
constexpr size_t kShortestLength = 6;
constexpr size_t kLongestLength = 512;
} // namespace

void StcFrameAssembler::reset() {
    buf_.clear();
    stray_.clear();
    garbled_ = false;
    expected_ = 0;
}

std::optional<TimePoint> StcFrameAssembler::wake() const {
    if (buf_.empty() && stray_.empty()) return std::nullopt;
    return lastCharAt_ + std::chrono::duration_cast<WireClock::duration>(std::chrono::duration<double>(frameGap_));
}

void StcFrameAssembler::abandon() {
    if (!buf_.empty()) {
        hooks_.reject(buf_, lastCharAt_,
                      "incomplete frame: " + std::to_string(buf_.size()) + " of " +
                          std::to_string(expected_ ? expected_ : 5) + " bytes, then a pause");
        buf_.clear();
        garbled_ = false;
    }
    flushStray();
}

void StcFrameAssembler::flushStray() {
    if (stray_.empty()) return;
    hooks_.reject(stray_, strayAt_, "bytes outside a frame");
    stray_.clear();
}

void StcFrameAssembler::feed(uint8_t b, bool bad, TimePoint at) {
    const auto gap = std::chrono::duration<double>(at - lastCharAt_).count();
    if (gap > frameGap_) abandon();
    lastCharAt_ = at;
    if (buf_.empty()) {
        if (b == 0x46 && !bad) {
            flushStray();
            buf_.push_back(b);
            expected_ = 0;
            return;
        }
        if (!bad && hooks_.pulse(b, !stray_.empty(), at)) return;
        if (stray_.empty()) strayAt_ = at;
        stray_.push_back(b);
        return;
    }
    buf_.push_back(b);
    garbled_ = garbled_ || bad;
    if (buf_.size() == 2 && (b != 0xB9 || bad)) {
        if (stray_.empty()) strayAt_ = at;
        stray_.push_back(0x46);
        buf_.clear();
        if (b == 0x46 && !bad)
            buf_.push_back(b);
        else
            stray_.push_back(b);
        return;
    }
    if (buf_.size() == 5) {
        const size_t len = (static_cast<size_t>(buf_[3]) << 8) | buf_[4];
        if (len < kShortestLength || len > kLongestLength) {
            Bytes f = std::move(buf_);
            buf_.clear();
            garbled_ = false;
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(len));
            hooks_.reject(f, at, std::string("length field ") + hex + " out of range");
            return;
        }
        expected_ = len + 2;
    }
    if (buf_.size() >= 5 && buf_.size() == expected_) {
        Bytes f = std::move(buf_);
        buf_.clear();
        const bool g = garbled_;
        garbled_ = false;
        hooks_.frame(std::move(f), g, at);
    }
}

} // namespace talvo::sim
