#include "sim/VirtualHost.h"

#include <algorithm>

#include "protocol/Diagnosis.h"

namespace talvo::sim {

using namespace std::chrono_literals;
using protocol::WaitResult;

namespace {
constexpr auto kTick = 100ms;
constexpr auto kSyncPeriod = 14ms;
} // namespace

VirtualHost::VirtualHost(WirePeer& chip, QString portName) : chip_(chip), portName_(std::move(portName)) {
    start_ = now_ = TimePoint{} + std::chrono::hours(1);
    txFree_ = chipTxFree_ = now_;
    nextTick_ = now_ + kTick;
    nextSync_ = now_;
    chip_.attach(this);
}

// The chip keeps its link to this host; it is not driven after the host ends.
VirtualHost::~VirtualHost() = default;

double VirtualHost::elapsedSeconds() const { return std::chrono::duration<double>(now_ - start_).count(); }

void VirtualHost::splitReads(double chance, uint64_t seed) {
    splitChance_ = chance;
    splitRng_ = Rng(seed);
}

bool VirtualHost::cancelled() const {
    return cancelAfterSeconds && elapsedSeconds() >= *cancelAfterSeconds;
}

// ---------------------------------------------------------------------------
// The port

bool VirtualHost::OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) {
    ++opens_;
    if (failOpen && failOpen(opens_)) {
        messages << QStringLiteral("%1口不能打开 (staged failure)").arg(portName_);
        return false;
    }
    if (open_) ClosePort();
    open_ = true;
    lost_ = false;
    held_.clear();
    settings_ = LineSettings{baud, parity, 8, 0};
    eventChar_ = eventChar;
    // A port opens with both modem lines low.
    if (lines_.rts || lines_.dtr) {
        lines_ = {};
        chip_.onModemLines(lines_, now_);
    }
    chip_.onHostOpen(true, now_);
    return true;
}

void VirtualHost::awaitLineFree() {
    const TimePoint until = txFree_ + std::chrono::milliseconds(protocol::kLineSettleMarginMs);
    if (!open_ || lost_ || until <= now_) return;
    lineWaitSeconds += std::chrono::duration<double>(until - now_).count();
    runUntil(until);
}

void VirtualHost::ClosePort() {
    awaitLineFree();
    closePort();
}

void VirtualHost::closePort() {
    if (!open_) return;
    // What has not left yet (a sync pair on its way, or a frame behind a
    // driver that returned at once) is cut off with the port.
    tx_.clear();
    txFree_ = std::max(txFree_, now_);
    open_ = false;
    held_.clear();
    notifyAt_.reset();
    chip_.onHostOpen(false, now_);
}

bool VirtualHost::ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    if (!open_) {
        if (reason) *reason = QStringLiteral("the port is not open");
        return false;
    }
    awaitLineFree();
    if (failConfigure && failConfigure(baud)) {
        if (reason) *reason = QStringLiteral("Invalid argument (staged failure at %1 baud)").arg(baud);
        return false;
    }
    settings_ = LineSettings{baud, parity, 8, 0};
    // Queued bytes that have not started go out with the new settings.
    TimePoint t = now_;
    for (InFlight& b : tx_) {
        if (b.end - b.settings.charTime() < now_) {
            t = b.end;
            continue;
        }
        t = std::max(t, now_) + settings_.charTime();
        b.end = t;
        b.settings = settings_;
    }
    if (!tx_.empty()) txFree_ = tx_.back().end;
    eventChar_ = eventChar;
    if (lines_.rts || lines_.dtr) {
        lines_ = {};
        chip_.onModemLines(lines_, now_);
    }
    return true;
}

bool VirtualHost::SetRts(bool on) {
    if (!open_ || lost_) return false;
    if (lines_.rts != on) {
        lines_.rts = on;
        chip_.onModemLines(lines_, now_);
    }
    return true;
}

bool VirtualHost::SetDtr(bool on) {
    if (!open_ || lost_) return false;
    if (lines_.dtr != on) {
        lines_.dtr = on;
        chip_.onModemLines(lines_, now_);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Bytes

void VirtualHost::transmit(const QByteArray& bytes) {
    TimePoint t = std::max(txFree_, now_);
    for (char c : bytes) {
        t += settings_.charTime();
        tx_.push_back({t, static_cast<uint8_t>(c), settings_});
    }
    txFree_ = t;
}

bool VirtualHost::Send(const QByteArray& bytes, bool keepReceived) {
    if (!keepReceived) ForgetReceived();
    if (!open_ || lost_) return false;
    transmit(bytes);
    if (!writeReturnsAtOnce) runUntil(txFree_);
    writeDone_ = true;
    return open_ && !lost_;
}

void VirtualHost::ForgetReceived() {
    received_.clear();
    held_.clear();
    notifyAt_.reset();
}

void VirtualHost::StartSync() {
    syncOn_ = true;
    nextSync_ = now_;
}

void VirtualHost::sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, TimePoint notBefore) {
    if (lost_) return;
    TimePoint t = std::max({notBefore, chipTxFree_, now_});
    for (size_t i = 0; i < n; ++i) {
        t += peer.charTime();
        rx_.push_back({t, data[i], peer});
    }
    chipTxFree_ = t;
}

void VirtualHost::hangUp() {
    lost_ = true;
    rx_.clear();
    if (open_) {
        open_ = false;
        tx_.clear();
    }
}

void VirtualHost::takeHeld() {
    received_ += held_;
    held_.clear();
    writeDone_ = false;
}

// ---------------------------------------------------------------------------
// Time

TimePoint VirtualHost::nextEvent() const {
    TimePoint next = nextTick_;
    auto consider = [&](TimePoint t) { next = std::min(next, t); };
    if (!tx_.empty()) consider(tx_.front().end);
    if (!rx_.empty()) consider(rx_.front().end);
    if (auto w = chip_.nextWake()) consider(*w);
    if (notifyAt_) consider(*notifyAt_);
    if (syncOn_ && open_ && !lost_) consider(std::max(nextSync_, txFree_));
    return std::max(next, now_);
}

void VirtualHost::step() {
    now_ = nextEvent();
    // The host UART's bytes reach the chip at the end of their stop bit.
    while (!tx_.empty() && tx_.front().end <= now_) {
        const InFlight b = tx_.front();
        tx_.pop_front();
        if (recordWire) wire.push_back({b.end, b.value, true, b.settings});
        chip_.onHostByte(b.value, b.settings, b.end);
    }
    if (auto w = chip_.nextWake(); w && *w <= now_) chip_.onTimer(now_);
    // The chip's bytes reach the host UART's receiver.
    while (!rx_.empty() && rx_.front().end <= now_) {
        const InFlight b = rx_.front();
        rx_.pop_front();
        if (recordWire) wire.push_back({b.end, b.value, false, b.settings});
        if (!open_) continue;
        const UartChar c = uartReceive(b.value, b.settings, settings_);
        if (!c.received) continue;
        held_.append(static_cast<char>(c.value));
        // While the download waits, every arrival is handed on at once (the
        // window's channel wakes the waiting loop on each read); otherwise
        // the event character hands it on after the reply delay, twice.
        if (waiting_) {
            received_ += held_;
            held_.clear();
        } else {
            if (splitChance_ > 0 && splitRng_.chance(splitChance_)) received_ += held_, held_.clear();
            if (c.value == eventChar_ && writeDone_ && !notifyAt_)
                notifyAt_ = now_ + 2 * std::chrono::milliseconds(replyDelayMs_);
        }
    }
    if (notifyAt_ && *notifyAt_ <= now_) {
        notifyAt_.reset();
        takeHeld();
    }
    if (syncOn_ && open_ && !lost_ && std::max(nextSync_, txFree_) <= now_) {
        transmit(QByteArray("\x7f\x7f", 2));
        writeDone_ = true;
        nextSync_ = now_ + kSyncPeriod;
    }
    while (nextTick_ <= now_) {
        if (ticking_) ++ticks_;
        nextTick_ += kTick;
        // The window's pump also looks at the port once a tick.
        if (!held_.isEmpty()) received_ += held_, held_.clear();
    }
}

void VirtualHost::runUntil(TimePoint until) {
    while (nextEvent() <= until) {
        step();
        if (lost_ && !tx_.empty()) tx_.clear();
    }
    now_ = std::max(now_, until);
}

void VirtualHost::ResetTicks() {
    ticks_ = 0;
    ticking_ = false;
}

WaitResult VirtualHost::Wait(int tickLimit, const protocol::ReplyJudge& judge) {
    ticking_ = true;
    // What arrived before the wait and is still held is taken at its start,
    // as the window's wait does.
    received_ += held_;
    held_.clear();
    notifyAt_.reset();
    waiting_ = true;
    ++waits_;
    struct WaitingOff {
        bool& flag;
        ~WaitingOff() { flag = false; }
    } off{waiting_};
    for (;;) {
        if (judge && judge(received_)) return WaitResult::Replied;
        if (lost_) return WaitResult::PortLost;
        if (cancelled()) return WaitResult::Cancelled;
        if (ticks_ > tickLimit) return WaitResult::TimedOut;
        const int before = received_.size();
        // Serve events until something the judge may want to see happened
        // or a tick went by.
        const int ticksBefore = ticks_;
        while (received_.size() == before && ticks_ == ticksBefore && !lost_ && !cancelled()) step();
    }
}

bool VirtualHost::Pause(int ms) {
    runUntil(now_ + std::chrono::milliseconds(ms));
    return !cancelled();
}

QString VirtualHost::ConnectDiagnosis() const { return protocol::ConnectDiagnosisText(); }
QString VirtualHost::PortDiagnosis() const { return protocol::PortDiagnosisText(); }

void VirtualHost::EndDownload() {
    ++endDownloads;
    ResetTicks();
    syncOn_ = false;
    closePort();
    progress.push_back(0);
}

} // namespace talvo::sim
