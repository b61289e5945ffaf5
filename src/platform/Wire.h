#pragma once
// The two ends of a serial wire as a simulated chip sees it.
//
// A host-side device (the in-process simulated UART, or a pseudo-terminal
// server) drives a WirePeer: it hands over every byte the host's UART sent,
// together with the line settings in force when the byte left, and offers the
// peer a WireLink through which the peer's own UART answers.  What a UART makes
// of a character sent with other settings is decided by uartReceive(), so that
// a wrong baud rate or parity shows up as it does on a board.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace talvo {

using WireClock = std::chrono::steady_clock;

// Framing as the Windows DCB numbers it: parity 0 none, 1 odd, 2 even,
// 3 mark, 4 space; stopBits 0 = one, 1 = one and a half, 2 = two.
struct LineSettings {
    uint32_t baud = 9600;
    uint8_t parity = 0;
    uint8_t dataBits = 8;
    uint8_t stopBits = 0;

    bool operator==(const LineSettings&) const = default;

    // Bit times of one character: start, data, parity (if any), stop.
    double bitsPerChar() const;
    std::chrono::nanoseconds charTime() const;
};

struct ModemLines {
    bool rts = false;
    bool dtr = false;
    bool operator==(const ModemLines&) const = default;
};

// What a receiving UART makes of one character.
struct UartChar {
    bool received = false;     // false: the receiver saw no start bit / nothing usable
    uint8_t value = 0;         // the data bits it sampled
    bool framingError = false; // stop bit sampled low
    bool parityError = false;
};

// Default tolerance of a UART receiver: about half a bit over a character.
inline constexpr double kUartTolerance = 0.045;

// Samples the waveform of `byte` sent with `sender` settings at the bit
// centres of a receiver with `receiver` settings.  Within `tolerance` of the
// sender's rate and with matching framing the character arrives clean;
// otherwise the result is the garbage (or framing/parity error) a real
// receiver would produce, and beyond the tolerance always a framing error.
UartChar uartReceive(uint8_t byte, const LineSettings& sender, const LineSettings& receiver,
                     double tolerance = kUartTolerance);

class WireLink;

// The chip's side of the wire.  All calls come from one thread at a time.
class WirePeer {
public:
    virtual ~WirePeer() = default;

    // The wire the peer answers through; set before any other call.
    virtual void attach(WireLink* link) = 0;
    // The host's UART finished sending `byte` at `at` with settings `host`.
    virtual void onHostByte(uint8_t byte, const LineSettings& host, WireClock::time_point at) = 0;
    // The host changed RTS or DTR.
    virtual void onModemLines(const ModemLines& lines, WireClock::time_point at) { (void)lines; (void)at; }
    // The host opened (true) or closed (false) its port.
    virtual void onHostOpen(bool open, WireClock::time_point at) { (void)open; (void)at; }
    // Called at (or soon after) the time nextWake() returned.
    virtual void onTimer(WireClock::time_point now) { (void)now; }
    virtual std::optional<WireClock::time_point> nextWake() const { return std::nullopt; }
};

// What the wire offers its peer.
class WireLink {
public:
    virtual ~WireLink() = default;
    // The peer's UART sends `n` bytes with the peer's own settings, the first
    // one starting no earlier than `notBefore`; the host receives them as its
    // own UART makes them out.
    virtual void sendToHost(const uint8_t* data, size_t n, const LineSettings& peer,
                            WireClock::time_point notBefore) = 0;
    virtual WireClock::time_point now() const = 0;
    // False when the host gets the peer's bytes as soon as they are sent
    // (a pseudo-terminal without pacing): an answer is over when it starts.
    virtual bool paced() const { return true; }
    // The peer ends the connection (a converter pulled out mid-transfer).
    virtual void hangUp() {}
};

} // namespace talvo
