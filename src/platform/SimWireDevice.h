#pragma once
// The host end of an in-process simulated wire: behaves like a real UART
// towards the channel above and like a wire towards a WirePeer (a chip
// simulator or a test peer).
//
// - Bytes written are queued (4096-byte transmit queue) and leave one after
//   the other at the configured rate: each takes LineSettings::charTime()
//   (10 or 11 bit times at 8 data bits); the peer gets every byte, with the
//   settings in force when it started, at the time its stop bit ended.
// - The peer's answers (WireLink::sendToHost) are paced at the peer's own
//   rate and pass through uartReceive() with the host's settings at the time
//   each byte arrives: a wrong rate or parity gives garbage, as on a board.
// - Every configuration and modem-line change is recorded with its time.
// - The peer may hang up; the host then reads EIO.
//
// The peer is called from the device's own wire thread only, under the peer
// lock (withPeer() takes the same lock to look at the peer from outside).
//
// A device can stand for a board that stays connected: reopen() opens its
// host end again after close(), and the wire -- with the chip's answers still
// on their way -- goes on meanwhile (a closed port hears nothing).

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/SerialDevice.h"
#include "platform/Wire.h"

namespace talvo {

class SimWireDevice final : public SerialDevice, private WireLink {
    friend class SimBoardPort;
public:
    struct Event {
        enum Kind { Open, Configure, Lines, Purge, Close, HangUp };
        Kind kind = Open;
        WireClock::time_point at;
        LineSettings settings; // in force after the event
        ModemLines lines;      // in force after the event
    };

    static constexpr size_t kTransmitQueue = 4096;

    SimWireDevice(const QString& name, std::unique_ptr<WirePeer> peer);
    ~SimWireDevice() override;

    // Everything that happened at the host end, in order.
    std::vector<Event> history() const;
    ModemLines lines() const;
    // True while bytes are queued or on their way in either direction.
    bool busy() const;
    // Opens the host end again after close(); clears a hang-up (the converter
    // plugged in again).  False when it is open.
    bool reopen();
    bool isClosed() const;
    // Runs `fn` on the peer while the wire thread leaves it alone.
    void withPeer(const std::function<void(WirePeer&)>& fn);
    // A converter whose driver cannot tell when its transmitter is empty
    // (CH340, PL2303): a write returns as soon as its bytes are queued, so a
    // close or purge right after it drops what has not left, and a new
    // configuration applies to the queued bytes that have not started.
    void setWriteReturnsAtOnce(bool on);

    WaitStatus waitReadable(int timeoutMs) override;
    void wake() override;

protected:
    DeviceStatus doConfigure(const LineSettings& settings) override;
    DeviceIo doWrite(const uint8_t* data, size_t n, std::chrono::milliseconds timeout) override;
    DeviceIo doRead(uint8_t* data, size_t n) override;
    DeviceStatus doSetRts(bool on) override;
    DeviceStatus doSetDtr(bool on) override;
    DeviceStatus doPurge() override;
    DeviceIo doBytesHeld() override;
    DeviceStatus doClose() override;

private:
    // WireLink, for the peer.
    void sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, WireClock::time_point notBefore) override;
    WireClock::time_point now() const override;
    void hangUp() override;

    struct TxByte {
        uint8_t value;
        WireClock::time_point queued;
    };
    struct InFlight {
        uint8_t value;
        LineSettings settings;
        WireClock::time_point end;
    };
    struct RxByte {
        uint8_t value;
        LineSettings peer;
        WireClock::time_point arrives;
    };
    // A call the wire thread makes on the peer.
    struct PeerCall {
        enum Kind { Byte, Lines, Open };
        PeerCall(Kind k, WireClock::time_point t) : kind(k), at(t) {}
        Kind kind;
        WireClock::time_point at;
        uint8_t value = 0;
        LineSettings settings;
        ModemLines lines;
        bool open = false;
    };

    void record(Event::Kind kind, WireClock::time_point at);
    DeviceStatus setLine(bool rts, bool on);
    void advanceLocked(WireClock::time_point now);
    std::optional<WireClock::time_point> nextDeadlineLocked() const;
    void wireThread();

    std::unique_ptr<WirePeer> Peer;

    std::mutex PeerMutex;   // held by the wire thread while it calls the peer
    mutable std::mutex Mutex;
    std::condition_variable WireCv; // wakes the wire thread
    std::condition_variable HostCv; // wakes host-side waiters (readable, queue space, wake())
    bool Quit = false;
    bool Closed = false;
    bool HungUpFlag = false;
    bool WakeFlag = false;
    bool PortHeld = false;  // a SimBoardPort has the host end
    bool WriteReturnsAtOnce = false;
    LineSettings Settings;
    ModemLines Lines;
    std::deque<TxByte> TxQueue;
    std::optional<InFlight> Sending;
    WireClock::time_point TxLineFree{};
    std::deque<RxByte> RxWire;
    WireClock::time_point RxLineFree{};
    std::deque<uint8_t> RxHeld;
    std::vector<PeerCall> Calls;
    std::optional<WireClock::time_point> PeerWake;
    std::vector<Event> History;

    std::thread Thread;
};

} // namespace talvo
