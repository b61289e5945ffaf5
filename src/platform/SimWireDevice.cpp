#include "platform/SimWireDevice.h"

#include <algorithm>
#include <cerrno>

namespace talvo {

SimWireDevice::SimWireDevice(const QString& name, std::unique_ptr<WirePeer> peer)
    : SerialDevice(name), Peer(std::move(peer)) {
    Peer->attach(this);
    const auto t = WireClock::now();
    record(Event::Open, t);
    PeerCall open{PeerCall::Open, t};
    open.open = true;
    Calls.push_back(open);
    Thread = std::thread([this] { wireThread(); });
}

SimWireDevice::~SimWireDevice() {
    {
        std::lock_guard lock(Mutex);
        Quit = true;
        if (!Closed) {
            Closed = true;
            PeerCall close{PeerCall::Open, WireClock::now()};
            close.open = false;
            Calls.push_back(close);
        }
    }
    WireCv.notify_all();
    HostCv.notify_all();
    Thread.join();
}

std::vector<SimWireDevice::Event> SimWireDevice::history() const {
    std::lock_guard lock(Mutex);
    return History;
}

ModemLines SimWireDevice::lines() const {
    std::lock_guard lock(Mutex);
    return Lines;
}

bool SimWireDevice::reopen() {
    {
        std::lock_guard lock(Mutex);
        if (!Closed) return false;
        Closed = false;
        HungUpFlag = false;
        WakeFlag = false;
        RxHeld.clear();
        const auto t = WireClock::now();
        record(Event::Open, t);
        PeerCall open{PeerCall::Open, t};
        open.open = true;
        Calls.push_back(open);
    }
    WireCv.notify_all();
    return true;
}

bool SimWireDevice::isClosed() const {
    std::lock_guard lock(Mutex);
    return Closed;
}

void SimWireDevice::withPeer(const std::function<void(WirePeer&)>& fn) {
    std::lock_guard peerLock(PeerMutex);
    fn(*Peer);
}

void SimWireDevice::setWriteReturnsAtOnce(bool on) {
    std::lock_guard lock(Mutex);
    WriteReturnsAtOnce = on;
}

bool SimWireDevice::busy() const {
    std::lock_guard lock(Mutex);
    return !TxQueue.empty() || Sending || !RxWire.empty() || !Calls.empty();
}

void SimWireDevice::record(Event::Kind kind, WireClock::time_point at) {
    Event e;
    e.kind = kind;
    e.at = at;
    e.settings = Settings;
    e.lines = Lines;
    History.push_back(e);
}

// Moves the wire forward to `now`: bytes whose transmission started take the
// settings in force, bytes that finished become calls on the peer, answers
// that arrived are sampled by the host's receiver.
void SimWireDevice::advanceLocked(WireClock::time_point now) {
    bool space = false;
    for (;;) {
        if (Sending) {
            if (Sending->end > now) break;
            PeerCall c{PeerCall::Byte, Sending->end};
            c.value = Sending->value;
            c.settings = Sending->settings;
            Calls.push_back(c);
            TxLineFree = Sending->end;
            Sending.reset();
            space = true; // a writer may be waiting for its last byte to go out
            continue;
        }
        if (TxQueue.empty()) break;
        const auto start = std::max(TxLineFree, TxQueue.front().queued);
        if (start > now) break;
        Sending = InFlight{TxQueue.front().value, Settings, start + Settings.charTime()};
        TxQueue.pop_front();
        space = true;
    }
    bool arrived = false;
    while (!RxWire.empty() && RxWire.front().arrives <= now) {
        const RxByte b = RxWire.front();
        RxWire.pop_front();
        if (Closed) continue;
        const UartChar c = uartReceive(b.value, b.peer, Settings);
        if (!c.received) continue;
        // Like a driver without error replacement: the sampled value is
        // delivered even with a framing or parity error.
        RxHeld.push_back(c.value);
        arrived = true;
    }
    if (space || arrived) HostCv.notify_all();
}

std::optional<WireClock::time_point> SimWireDevice::nextDeadlineLocked() const {
    std::optional<WireClock::time_point> d;
    auto consider = [&](WireClock::time_point t) {
        if (!d || t < *d) d = t;
    };
    if (Sending)
        consider(Sending->end);
    else if (!TxQueue.empty())
        consider(std::max(TxLineFree, TxQueue.front().queued));
    if (!RxWire.empty()) consider(RxWire.front().arrives);
    if (PeerWake) consider(*PeerWake);
    return d;
}

void SimWireDevice::wireThread() {
    std::optional<WireClock::time_point> firstWake;
    {
        std::lock_guard peerLock(PeerMutex);
        firstWake = Peer->nextWake();
    }
    std::unique_lock lock(Mutex);
    PeerWake = firstWake;
    for (;;) {
        const auto t = WireClock::now();
        advanceLocked(t);
        const bool timerDue = PeerWake && *PeerWake <= t;
        if (!Calls.empty() || timerDue) {
            std::vector<PeerCall> calls;
            calls.swap(Calls);
            if (timerDue) PeerWake.reset();
            lock.unlock();
            std::stable_sort(calls.begin(), calls.end(),
                             [](const PeerCall& a, const PeerCall& b) { return a.at < b.at; });
            std::unique_lock peerLock(PeerMutex);
            for (const PeerCall& c : calls) {
                switch (c.kind) {
                case PeerCall::Byte: Peer->onHostByte(c.value, c.settings, c.at); break;
                case PeerCall::Lines: Peer->onModemLines(c.lines, c.at); break;
                case PeerCall::Open: Peer->onHostOpen(c.open, c.at); break;
                }
            }
            if (timerDue) Peer->onTimer(t);
            const auto wake = Peer->nextWake();
            peerLock.unlock();
            lock.lock();
            PeerWake = wake;
            continue;
        }
        if (Quit) break;
        if (const auto d = nextDeadlineLocked())
            WireCv.wait_until(lock, *d);
        else
            WireCv.wait(lock);
    }
}

WaitStatus SimWireDevice::waitReadable(int timeoutMs) {
    std::unique_lock lock(Mutex);
    const auto ready = [&] { return !RxHeld.empty() || WakeFlag || HungUpFlag || Closed; };
    if (timeoutMs < 0)
        HostCv.wait(lock, ready);
    else
        HostCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (WakeFlag) {
        WakeFlag = false;
        return WaitStatus::Woken;
    }
    if (!RxHeld.empty()) return WaitStatus::Readable;
    if (HungUpFlag) return WaitStatus::HungUp;
    if (Closed) return WaitStatus::Failed;
    return WaitStatus::TimedOut;
}

void SimWireDevice::wake() {
    {
        std::lock_guard lock(Mutex);
        WakeFlag = true;
    }
    HostCv.notify_all();
}

DeviceStatus SimWireDevice::doConfigure(const LineSettings& s) {
    if (s.baud == 0) return DeviceStatus::fromErrno(EINVAL, QStringLiteral("baud rate 0 requested"));
    if (s.dataBits < 5 || s.dataBits > 8)
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("%1 data bits requested (5 to 8 possible)").arg(s.dataBits));
    if (s.parity > 4 || s.stopBits > 2)
        return DeviceStatus::fromErrno(EINVAL, QStringLiteral("parity %1 / stop bits code %2 requested").arg(s.parity).arg(s.stopBits));
    {
        std::lock_guard lock(Mutex);
        if (Closed) return DeviceStatus::fromErrno(EBADF);
        const auto t = WireClock::now();
        advanceLocked(t); // what is already under way keeps the old settings
        Settings = s;
        record(Event::Configure, t);
    }
    WireCv.notify_all();
    return {};
}

DeviceIo SimWireDevice::doWrite(const uint8_t* data, size_t n, std::chrono::milliseconds timeout) {
    DeviceIo io;
    std::unique_lock lock(Mutex);
    const auto deadline = WireClock::now() + timeout;
    while (io.count < n) {
        if (Closed) {
            io.error = EBADF;
            return io;
        }
        if (HungUpFlag) {
            io.error = EIO;
            return io;
        }
        const auto t = WireClock::now();
        advanceLocked(t);
        const size_t space = kTransmitQueue - std::min(kTransmitQueue, TxQueue.size());
        if (space > 0) {
            const size_t take = std::min(space, n - io.count);
            for (size_t i = 0; i < take; ++i) TxQueue.push_back(TxByte{data[io.count + i], t});
            io.count += take;
            WireCv.notify_all();
            continue;
        }
        if (!HostCv.wait_until(lock, deadline,
                               [&] { return TxQueue.size() < kTransmitQueue || Closed || HungUpFlag; })) {
            io.error = ETIMEDOUT;
            return io;
        }
    }
    // The write is complete when the converter has sent the bytes: a close or
    // purge right after it must not take back what a completed write handed
    // over.  (Unless the driver cannot tell.)
    WireCv.notify_all();
    if (WriteReturnsAtOnce) return io;
    const auto allSent = [&] { return TxQueue.empty() && !Sending; };
    const bool ended = HostCv.wait_until(lock, deadline, [&] {
        advanceLocked(WireClock::now());
        return allSent() || Closed || HungUpFlag;
    });
    if (!ended) io.error = ETIMEDOUT;
    else if (!allSent()) io.error = HungUpFlag ? EIO : EBADF;
    return io;
}

DeviceIo SimWireDevice::doRead(uint8_t* data, size_t n) {
    DeviceIo io;
    std::lock_guard lock(Mutex);
    if (Closed) {
        io.error = EBADF;
        return io;
    }
    while (io.count < n && !RxHeld.empty()) {
        data[io.count++] = RxHeld.front();
        RxHeld.pop_front();
    }
    if (io.count == 0 && HungUpFlag) io.error = EIO;
    return io;
}

DeviceStatus SimWireDevice::setLine(bool rts, bool on) {
    {
        std::lock_guard lock(Mutex);
        if (Closed) return DeviceStatus::fromErrno(EBADF);
        if (HungUpFlag) return DeviceStatus::fromErrno(EIO);
        (rts ? Lines.rts : Lines.dtr) = on;
        const auto t = WireClock::now();
        record(Event::Lines, t);
        PeerCall c{PeerCall::Lines, t};
        c.lines = Lines;
        Calls.push_back(c);
    }
    WireCv.notify_all();
    return {};
}

DeviceStatus SimWireDevice::doSetRts(bool on) { return setLine(true, on); }
DeviceStatus SimWireDevice::doSetDtr(bool on) { return setLine(false, on); }

DeviceStatus SimWireDevice::doPurge() {
    std::lock_guard lock(Mutex);
    if (Closed) return DeviceStatus::fromErrno(EBADF);
    TxQueue.clear();
    RxHeld.clear();
    record(Event::Purge, WireClock::now());
    HostCv.notify_all();
    return {};
}

DeviceIo SimWireDevice::doBytesHeld() {
    DeviceIo io;
    std::lock_guard lock(Mutex);
    if (Closed)
        io.error = EBADF;
    else
        io.count = RxHeld.size();
    return io;
}

DeviceStatus SimWireDevice::doClose() {
    {
        std::lock_guard lock(Mutex);
        if (Closed) return {};
        Closed = true;
        TxQueue.clear();
        RxHeld.clear();
        const auto t = WireClock::now();
        record(Event::Close, t);
        PeerCall c{PeerCall::Open, t};
        c.open = false;
        Calls.push_back(c);
    }
    WireCv.notify_all();
    HostCv.notify_all();
    return {};
}

void SimWireDevice::sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, WireClock::time_point notBefore) {
    {
        std::lock_guard lock(Mutex);
        // The chip's UART sends whether or not the host's port is open; what
        // arrives at a closed port is lost there.
        if (HungUpFlag) return;
        auto t = std::max({notBefore, RxLineFree, WireClock::now()});
        const auto step = peer.charTime();
        for (size_t i = 0; i < n; ++i) {
            t += step;
            RxWire.push_back(RxByte{data[i], peer, t});
        }
        RxLineFree = t;
    }
    WireCv.notify_all();
}

WireClock::time_point SimWireDevice::now() const { return WireClock::now(); }

void SimWireDevice::hangUp() {
    {
        std::lock_guard lock(Mutex);
        if (HungUpFlag) return;
        HungUpFlag = true;
        RxWire.clear(); // what was still on its way is lost with the converter
        record(Event::HangUp, WireClock::now());
    }
    HostCv.notify_all();
}

} // namespace talvo
