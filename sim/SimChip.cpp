#include "sim/SimChip.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace talvo::sim {

std::string hexBytes(const uint8_t* data, size_t n) {
    std::string s;
    s.reserve(n * 3);
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

Bytes bytesFromHex(const char* text) {
    Bytes b;
    int hi = -1;
    for (const char* p = text; *p; ++p) {
        int v;
        if (*p >= '0' && *p <= '9')
            v = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            v = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            v = *p - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            b.push_back(static_cast<uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return b;
}

SimChip::SimChip(std::string name, ChipOptions options, size_t flashSize)
    : name_(std::move(name)), options_(std::move(options)), flash_(flashSize, 0xFF), rng_(options_.faults.seed) {}

SimChip::~SimChip() {
    if (options_.dumpPath.empty()) return;
    std::string error;
    if (!dumpFlash(options_.dumpPath, &error)) std::fprintf(stderr, "%s: %s\n", name_.c_str(), error.c_str());
}

TimePoint SimChip::plus(TimePoint t, double seconds) {
    return t + std::chrono::duration_cast<WireClock::duration>(std::chrono::duration<double>(seconds));
}

void SimChip::attach(WireLink* link) {
    link_ = link;
    if (!started_ && link_) {
        started_ = true;
        powerOn(link_->now());
    }
}

void SimChip::powerOff(TimePoint at) {
    if (powered_) trace("power off");
    powered_ = false;
    closedAt_.reset();
    out_.clear();
    uartChanges_.clear();
    (void)at;
}

void SimChip::powerOn(TimePoint at) {
    powered_ = true;
    hungUp_ = false;
    ++bootCount_;
    sessionFrames_ = 0;
    activeSinceBoot_ = false;
    lastActivity_ = at;
    txFree_ = at;
    out_.clear();
    uartChanges_.clear();
    trace("power on: bootloader starts");
    bootloaderStart(at);
}

void SimChip::powerCycle(TimePoint at) {
    powerOff(at);
    powerOn(at);
}

std::optional<LineSettings> SimChip::receiverFor(const LineSettings& host) const {
    (void)host;
    return uart_;
}

void SimChip::onHostByte(uint8_t byte, const LineSettings& host, TimePoint at) {
    if (!started_) attach(link_);
    if (!powered_) return;
    const uint8_t sent = byte;
    if (!wireFaults(&byte, "host byte ")) return;
    applyUartChanges(at - host.charTime());
    const auto rx = receiverFor(host);
    if (!rx) return;
    UartChar c = uartReceive(byte, host, *rx, options_.tolerance);
    if (!c.received) return;
    // Noise flipped bits on the line: with a parity bit, an odd number of
    // flips shows as a parity error at the receiver, as on a real wire.
    if (byte != sent && host.parity != 0 && rx->parity != 0 && (std::popcount(static_cast<unsigned>(byte ^ sent)) & 1))
        c.parityError = true;
    lastActivity_ = std::max(lastActivity_, at);
    activeSinceBoot_ = true;
    onChar(c, host, at);
}

bool SimChip::wireFaults(uint8_t* byte, const char* what) {
    const FaultSpec& f = options_.faults;
    if (rng_.chance(f.drop)) {
        trace(std::string("fault: ") + what + hexBytes(byte, 1) + " dropped");
        return false;
    }
    if (rng_.chance(f.corrupt)) {
        const uint8_t was = *byte;
        *byte ^= static_cast<uint8_t>(1u << rng_.range(0, 7));
        trace(std::string("fault: ") + what + hexBytes(&was, 1) + " corrupted to " + hexBytes(byte, 1));
    }
    return true;
}

void SimChip::onModemLines(const ModemLines& lines, TimePoint at) {
    const ModemLines before = lines_;
    lines_ = lines;
    if (ptyMode_ || before == lines) return;
    boardLines(before, lines, at);
}

void SimChip::boardLines(const ModemLines& before, const ModemLines& now, TimePoint at) {
    if (!before.rts && now.rts) powerOff(at);
    if (before.rts && !now.rts) powerOn(at);
}

void SimChip::onHostOpen(bool open, TimePoint at) {
    if (ptyMode_) {
        if (!open) {
            if (options_.reopenGrace > 0 && powered_)
                closedAt_ = at; // off only if the port stays closed (onTimer)
            else
                powerOff(at);
            return;
        }
        const bool reopened = closedAt_ && at < plus(*closedAt_, options_.reopenGrace);
        closedAt_.reset();
        if (reopened && powered_) {
            trace("port re-opened: the chip goes on");
            return;
        }
        powerCycle(at);
        return;
    }
    // On the wire the modem lines do the work; only a chip whose converter
    // was pulled out comes back when the port is opened again.
    if (open && hungUp_) powerOn(at);
}

void SimChip::setUartAt(TimePoint t, const LineSettings& s) {
    uartChanges_.emplace_back(t, s);
    std::stable_sort(uartChanges_.begin(), uartChanges_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

void SimChip::applyUartChanges(TimePoint upTo) {
    size_t n = 0;
    while (n < uartChanges_.size() && uartChanges_[n].first <= upTo) uart_ = uartChanges_[n++].second;
    uartChanges_.erase(uartChanges_.begin(), uartChanges_.begin() + static_cast<long>(n));
}

TimePoint SimChip::answer(const Bytes& bytes, double delaySeconds, const LineSettings& ls, TimePoint after) {
    if (!powered_) return after;
    const FaultSpec& f = options_.faults;
    const double late = sessionFrames_ >= f.delayFrom ? f.delay : 0.0;
    TimePoint start = std::max(plus(after, delaySeconds + late), txFree_);
    Bytes sent;
    sent.reserve(bytes.size());
    for (uint8_t b : bytes)
        if (wireFaults(&b, "answer byte ")) sent.push_back(b);
    // Unpaced, the host has the whole answer when it starts: the chip's UART
    // is free (and a temporary rate over) from then on.
    const bool paced = !link_ || link_->paced();
    const TimePoint end = paced ? start + ls.charTime() * static_cast<long>(sent.size()) : start;
    txFree_ = end;
    lastActivity_ = std::max(lastActivity_, end);
    if (!sent.empty()) {
        out_.push_back({start, sent, ls});
        char rate[64];
        std::snprintf(rate, sizeof rate, " at %u baud%s", ls.baud, ls.parity == 2 ? " 8E1" : " 8N1");
        trace("answer " + hexBytes(sent) + rate);
    }
    return end;
}

void SimChip::onTimer(TimePoint now) {
    applyUartChanges(now);
    while (!out_.empty() && out_.front().start <= now) {
        Pending p = std::move(out_.front());
        out_.pop_front();
        if (link_) link_->sendToHost(p.bytes.data(), p.bytes.size(), p.ls, p.start);
    }
    if (closedAt_ && now >= plus(*closedAt_, options_.reopenGrace)) {
        trace("the port stays closed");
        powerOff(now);
    }
    if (powered_) onModelTimer(now);
    const double idle = idleSeconds();
    if (idle > 0 && powered_ && activeSinceBoot_ && out_.empty() && now >= plus(lastActivity_, idle)) {
        trace("idle: the chip restarts");
        powerCycle(now);
    }
}

double SimChip::idleSeconds() const {
    if (options_.idleRestart >= 0) return options_.idleRestart;
    return ptyMode_ ? 2.0 : 0.0;
}

std::optional<TimePoint> SimChip::nextWake() const {
    std::optional<TimePoint> w;
    auto take = [&](TimePoint t) {
        if (!w || t < *w) w = t;
    };
    if (!out_.empty()) take(out_.front().start);
    if (!uartChanges_.empty()) take(uartChanges_.front().first);
    if (closedAt_) take(plus(*closedAt_, options_.reopenGrace));
    if (powered_) {
        if (auto m = modelWake()) take(*m);
        const double idle = idleSeconds();
        if (idle > 0 && activeSinceBoot_ && out_.empty()) take(plus(lastActivity_, idle));
    }
    return w;
}

void SimChip::record(TimePoint at, Bytes bytes, bool accepted, std::string note) {
    trace(std::string(accepted ? "frame " : "REJECTED frame ") + hexBytes(bytes) + (note.empty() ? "" : " -- " + note));
    // A long-running server keeps the recent history only.
    if (frames_.size() >= kMaxFrames) frames_.erase(frames_.begin(), frames_.begin() + kMaxFrames / 2);
    frames_.push_back({at, std::move(bytes), accepted, std::move(note)});
}

std::vector<FrameRecord> SimChip::rejectedFrames() const {
    std::vector<FrameRecord> r;
    for (const auto& f : frames_)
        if (!f.accepted) r.push_back(f);
    return r;
}

bool SimChip::frameAllowed() {
    ++sessionFrames_;
    const int limit = options_.faults.silentAfter;
    return limit < 0 || sessionFrames_ <= limit;
}

SimChip::BlockFault SimChip::blockArrived(TimePoint at) {
    ++runBlocks_;
    const FaultSpec& f = options_.faults;
    if (f.hangupBlock == runBlocks_ && !hangupDone_) {
        hangupDone_ = true;
        trace("fault: hang-up at data block " + std::to_string(runBlocks_));
        powerOff(at);
        hungUp_ = true;
        if (link_) link_->hangUp();
        return BlockFault::HangUp;
    }
    // The refused block counts once however often it comes again.
    if (f.nackBlock > 0 && refusals_ < f.nackCount && runBlocks_ == f.nackBlock + refusals_) {
        ++refusals_;
        trace("fault: data block " + std::to_string(f.nackBlock) + " refused (" + std::to_string(refusals_) + " of " +
              std::to_string(f.nackCount) + ")");
        return BlockFault::Refuse;
    }
    if (f.badAck == runBlocks_) {
        trace("fault: the answer to data block " + std::to_string(runBlocks_) + " carries a wrong sum");
        return BlockFault::BadAck;
    }
    return BlockFault::None;
}

void SimChip::trace(const std::string& text) const {
    if (trace_) trace_(name_ + ": " + text);
}

bool SimChip::dumpFlash(const std::string& path, std::string* error) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (f) f.write(reinterpret_cast<const char*>(flash_.data()), static_cast<std::streamsize>(flash_.size()));
    if (!f) {
        if (error) *error = "cannot write the flash image to '" + path + "'";
        return false;
    }
    return true;
}

bool SimChip::preload(std::string* error) {
    const auto fail = [&](const ChipOptions::Preload& p, const std::string& why) {
        if (error) *error = "load=" + p.path + ": " + why;
        return false;
    };
    for (const ChipOptions::Preload& p : options_.preloads) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(p.path, ec)) return fail(p, "no such regular file");
        std::ifstream f(p.path, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        if (!f.is_open() || f.bad()) return fail(p, "cannot read the file");
        const uint64_t base = flashBase();
        const uint64_t at = p.address.value_or(base);
        if (at < base || at - base + bytes.size() > flash_.size()) {
            char why[160];
            std::snprintf(why, sizeof why, "%zu bytes at 0x%08llX do not fit the flash (0x%08llX to 0x%08llX)",
                          bytes.size(), static_cast<unsigned long long>(at), static_cast<unsigned long long>(base),
                          static_cast<unsigned long long>(base + flash_.size() - 1));
            return fail(p, why);
        }
        std::copy(bytes.begin(), bytes.end(), flash_.begin() + static_cast<long>(at - base));
    }
    return true;
}

} // namespace talvo::sim
