#pragma once
// Common machinery of the simulated chips: power, the chip's UART (what it
// hears of the host's characters and with which settings it answers), the
// timed answer queue, faults, the flash array and the record of every frame
// the chip received.
//
// Power, as the boards wire it:
//  - STC boards: RTS switches the chip's supply; asserting RTS cuts the power,
//    releasing it powers the chip and starts the bootloader.
//  - STM32 boards: DTR drives RESET (asserted = held in reset) and RTS drives
//    BOOT0 (asserted = BOOT0 high); releasing DTR starts the system bootloader
//    when RTS is asserted and the user program (silent) when it is not.
//  - Behind a pseudo-terminal there are no modem lines ("pty mode"): the chip
//    starts when the host opens the port, stops when the port stays closed
//    (hang-up; a quick re-open continues the session), and restarts after an
//    idle time.
// Before any of these events the chip is powered and its bootloader waits.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Wire.h"
#include "sim/Faults.h"

namespace talvo::sim {

using TimePoint = WireClock::time_point;
using Bytes = std::vector<uint8_t>;

struct ChipOptions {
    double freqMHz = 11.0592;     // crystal (chips with an RC oscillator: the user frequency it was trimmed to)
    bool freqSet = false;         // freq= was given
    double rcOffset = 0.0;        // RC oscillator chips: the oscillator runs this fraction fast (+) or slow (-)
    bool untrimmed = false;       // RC oscillator chips: never trimmed
    bool locked = false;          // the chip is locked by a password
    int clockMode = 12;           // STC89: 12-clock or 6-clock
    double timeScale = 1.0;       // multiplies erase/write/answer delays; 0 = instant
    double tolerance = kUartTolerance; // UART receive tolerance (fraction)
    // The chip's clock runs this fraction fast (+) or slow (-) once it has
    // answered the host (an RC oscillator warming up, a crystal off its
    // mark): every rate the chip then makes with its own timer is off by as
    // much, while the rate it measured from the host's sync stays right.
    double clockDrift = 0.0;
    enum class Jitter { Seeded, Off, Pattern } jitter = Jitter::Seeded;
    std::vector<int> jitterPattern; // Pattern: offset added to each of the eight counts
    double idleRestart = -1.0;    // seconds without traffic before a restart; <0: 2 s in pty mode, off otherwise
    // Floor of the rate-switch answers, whatever the time scale: a host closes
    // and re-opens its port between the frame and the answer (real chips take
    // 0.1 s and more).
    double minSwitchDelay = 0.1;
    double frameGap = 0.25;       // a pause this long inside a frame abandons the partial frame (STC)
    // pty mode: a port closed and opened again within this time finds the chip
    // as it left it (a board is not reset by a re-open, and the STC rate switch
    // re-opens the port between a frame and its answer); a port that stays
    // closed longer switches the chip off.  0: off at every close.
    double reopenGrace = 0.5;
    FaultSpec faults;
    std::string dumpPath;         // the flash is written here when the chip ends ("" = not)
    // Files whose bytes the flash holds when the chip is made (load=FILE[@ADDR]):
    // a board that carries something already, such as a bootloader of its own.
    struct Preload {
        std::string path;
        std::optional<uint64_t> address; // none: the flash start
    };
    std::vector<Preload> preloads;
};

// One frame (STC) or command (STM32) the chip received, as it arrived.
struct FrameRecord {
    TimePoint at;
    Bytes bytes;
    bool accepted = false; // false: the chip found it malformed and did not act on it
    std::string note;      // what was wrong, or what the chip did
};

class SimChip : public WirePeer {
public:
    SimChip(std::string name, ChipOptions options, size_t flashSize);
    ~SimChip() override;

    // WirePeer
    void attach(WireLink* link) override;
    void onHostByte(uint8_t byte, const LineSettings& host, TimePoint at) override;
    void onModemLines(const ModemLines& lines, TimePoint at) override;
    void onHostOpen(bool open, TimePoint at) override;
    void onTimer(TimePoint now) override;
    std::optional<TimePoint> nextWake() const override;

    const std::string& name() const { return name_; }
    const ChipOptions& options() const { return options_; }
    Bytes& flash() { return flash_; }
    const Bytes& flash() const { return flash_; }
    // The chip's address of flash()[0].
    virtual uint32_t flashBase() const { return 0; }
    bool dumpFlash(const std::string& path, std::string* error) const;
    // Puts the files of options().preloads into the flash; false with *error
    // set when one cannot be read or does not fit.
    bool preload(std::string* error);

    // Frames received, oldest first (the latest kMaxFrames at most).
    static constexpr size_t kMaxFrames = 20000;
    const std::vector<FrameRecord>& frames() const { return frames_; }
    std::vector<FrameRecord> rejectedFrames() const;
    void clearFrames() { frames_.clear(); }

    bool powered() const { return powered_; }
    int bootCount() const { return bootCount_; } // how often the bootloader started
    // The settings the chip's UART runs with now (pty servers take the parity from here).
    LineSettings uart() const { return uart_; }
    virtual uint8_t nativeParity() const = 0;

    void setPtyMode(bool on) { ptyMode_ = on; }
    bool ptyMode() const { return ptyMode_; }
    void setTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }
    // Switches the chip off and on again at `at` (the user's power switch).
    void powerCycle(TimePoint at);
    void powerOff(TimePoint at);
    void powerOn(TimePoint at);

protected:
    // The bootloader starts afresh.
    virtual void bootloaderStart(TimePoint now) = 0;
    // The receiver the chip's UART uses for a character sent with `host`
    // settings; nullopt when the chip hears nothing.  Default: its current UART.
    virtual std::optional<LineSettings> receiverFor(const LineSettings& host) const;
    // One character the chip's UART made out.
    virtual void onChar(const UartChar& c, const LineSettings& host, TimePoint at) = 0;
    // Board wiring of the modem lines; default: STC power switch on RTS.
    virtual void boardLines(const ModemLines& before, const ModemLines& now, TimePoint at);
    virtual void onModelTimer(TimePoint now) { (void)now; }
    virtual std::optional<TimePoint> modelWake() const { return std::nullopt; }
    // The bootloader is fresh (waiting for its first sync), so idling changes nothing.
    virtual bool waitingForSync() const = 0;

    void setUart(const LineSettings& s) { uart_ = s; }
    // The UART changes to `s` at `t` (after an answer has left, for example).
    void setUartAt(TimePoint t, const LineSettings& s);

    // Queues an answer: it starts `delaySeconds` (already scaled) after `after`,
    // or when the UART is free.  Applies the transmit faults.  Returns the time
    // the last byte has left.
    TimePoint answer(const Bytes& bytes, double delaySeconds, const LineSettings& ls, TimePoint after);
    double scaled(double seconds) const { return seconds * options_.timeScale; }
    static TimePoint plus(TimePoint t, double seconds);

    void record(TimePoint at, Bytes bytes, bool accepted, std::string note);
    // Counts a frame of the session; false when the chip has gone silent (fault).
    bool frameAllowed();
    enum class BlockFault { None, Refuse, HangUp, BadAck };
    // Counts a data block of the run and says which fault, if any, hits it.
    BlockFault blockArrived(TimePoint at);
    void trace(const std::string& text) const;
    // Applies the drop and corrupt faults to one byte; false when it is lost.
    bool wireFaults(uint8_t* byte, const char* what);

    std::string name_;
    ChipOptions options_;
    Bytes flash_;
    WireLink* link_ = nullptr;

private:
    struct Pending {
        TimePoint start;
        Bytes bytes;
        LineSettings ls;
    };
    void applyUartChanges(TimePoint upTo);
    double idleSeconds() const;

    std::vector<FrameRecord> frames_;
    std::deque<Pending> out_;
    std::vector<std::pair<TimePoint, LineSettings>> uartChanges_;
    LineSettings uart_;
    TimePoint txFree_{};
    TimePoint lastActivity_{};
    bool activeSinceBoot_ = false;
    bool powered_ = true;
    bool started_ = false; // bootloaderStart ran at least once
    bool ptyMode_ = false;
    bool hungUp_ = false;
    std::optional<TimePoint> closedAt_; // pty mode: the host closed the port (within the re-open grace)
    ModemLines lines_;
    int bootCount_ = 0;
    int sessionFrames_ = 0;
    int runBlocks_ = 0;
    int refusals_ = 0;
    bool hangupDone_ = false;
    Rng rng_;
    std::function<void(const std::string&)> trace_;
};

std::string hexBytes(const uint8_t* data, size_t n);
inline std::string hexBytes(const Bytes& b) { return hexBytes(b.data(), b.size()); }
// The bytes of hexadecimal text ("46 B9 6a", any separators; an odd last digit is dropped).
Bytes bytesFromHex(const char* text);

} // namespace talvo::sim
