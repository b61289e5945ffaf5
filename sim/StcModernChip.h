#pragma once
// The bootloaders of the STC15A, STC15 (IAP15, STC15W4) and STC8 families,
// and of the newer STC8G/8H variant, as real chips behave on the wire: 8E1,
// frames with two checksum bytes, an internal RC oscillator that the host
// trims, a rate switch, an erase that answers the chip's unique ID, block
// writes, an option block and the closing frame.
//
// Each simulated part starts as the captured chip did: its status frame at
// the captured handshake rate is the captured frame byte for byte (with
// jitter=off, or the pattern that gives the captured count noise), and its
// RC oscillator answers trim requests with the counts the captured chip gave
// (the oscillator is piecewise linear between the captured points).  Options:
//   freq=MHZ    the RC was trimmed to this user frequency (the status says so)
//   untrimmed   STC15/STC8: the chip was never trimmed (frequency FFFFFFFF)
//   rc=PCT      the whole RC oscillator runs this much fast (+) or slow (-),
//               as chips of one model differ
//   locked      STC15/STC8: the chip is locked by a password (prepare -> 0F)
// Calibration pulses: a chip measures one trim per two-bit-long low run of a
// pulse byte after the calibration frame (FE and 7F one each, 92 three: the
// captures show 11 FE for 11 challenges, 12 for 12, four 92 for 12), and
// answers once it has measured every challenge.  Filler bytes 66 are ignored.

#include <optional>
#include <string>
#include <vector>

#include "sim/SimChip.h"
#include "sim/StcFrameAssembler.h"

namespace talvo::sim {

enum class ModernProtocol { Stc15a, Stc15, Stc8, Stc8g };

// One point of the RC oscillator's curve within a band: the trim position
// (STC15A, STC15, STC8G: the fine step; STC8: T + 0.32 F) and the count the
// captured chip answered for it at the model's knot rate.
struct RcKnot {
    double x;
    double count;
};

struct StcModernModel {
    std::string name;  // "iap15f2k61s2"
    std::string title; // what `talvo sim --list` shows
    ModernProtocol protocol;
    uint16_t code;          // model code
    Bytes status;           // the captured status payload (type byte 50 first)
    uint32_t statusBaud;    // the handshake rate it was captured at
    Bytes uid;              // 7-byte unique ID
    // The RC curve per band, lowest band first, in counts at `knotBaud`.
    std::vector<std::vector<RcKnot>> bands;
    uint32_t knotBaud;
    double bootHz;          // STC15/STC8: the clock the bootloader runs on
    uint8_t userTrim[2];    // STC15: the user trim (T, R) the status frequency came from
    // Answer times in seconds (before scaling), after the request's last byte.
    double calibrationTime; // earliest calibration answer
    double eraseTime;
    double writeMin, writeMax; // per block
    double optionsTime;
    bool untried;           // no capture of this variant exists
};

const std::vector<StcModernModel>& stcModernModels();
const StcModernModel* findStcModernModel(const std::string& name);

class StcModernChip : public SimChip {
public:
    enum class State { WaitSync, AwaitHostAck, AwaitPulse, Ready, Calibrating, Done };

    StcModernChip(const StcModernModel& model, ChipOptions options);

    const StcModernModel& model() const { return model_; }
    uint8_t nativeParity() const override { return 2; }
    State state() const { return state_; }
    size_t codeFlashBytes() const { return codeBytes_; }
    LineSettings handshake() const { return handshake_; }

    // The RC oscillator's frequency for trim bytes (first, second) as a frame carries them.
    double rcHz(uint8_t first, uint8_t second) const;
    // The count the chip answers for that trim at handshake rate `baud` (no jitter).
    double exactCount(uint8_t first, uint8_t second, uint32_t baud) const;
    // The frequency the user program runs at now (0: never trimmed).
    double userHz() const;
    // The status payload for a handshake at `baud` (jitter as configured) and its frame.
    Bytes statusPayload(uint32_t baud);
    Bytes frame(const Bytes& payload) const;
    // What the chip holds: STC15A MCS0..MCS12; STC15 MCS2, MCS3, MCS4, MCSX, MCSY;
    // STC8 MCS0..MCS4.
    const Bytes& optionBytes() const { return mcs_; }
    uint8_t storedTrim(int i) const { return trim_[i]; }
    int divider() const { return divider_; }
    std::optional<uint32_t> storedHz() const { return storedHz_; }

protected:
    void bootloaderStart(TimePoint now) override;
    std::optional<LineSettings> receiverFor(const LineSettings& host) const override;
    void onChar(const UartChar& c, const LineSettings& host, TimePoint at) override;
    void onModelTimer(TimePoint now) override;
    std::optional<TimePoint> modelWake() const override;
    bool waitingForSync() const override { return state_ == State::WaitSync && sync_.heardNothing(); }

private:
    bool isStc15a() const { return model_.protocol == ModernProtocol::Stc15a; }
    bool isStc8() const { return model_.protocol == ModernProtocol::Stc8 || model_.protocol == ModernProtocol::Stc8g; }
    void firstAnswer(TimePoint at);
    void sendStatus(TimePoint at);
    bool pulse(uint8_t byte, TimePoint at);
    void handleFrame(Bytes f, bool garbled, TimePoint at);
    void command(const Bytes& f, const Bytes& p, TimePoint at);
    void reject(const Bytes& f, TimePoint at, const std::string& why) { record(at, f, false, why); }
    void reply(const Bytes& payload, double seconds, TimePoint at);
    // Bytes after the command byte and the marker 00 00 5A A5 (STC8: required).
    std::optional<Bytes> afterMarker(const Bytes& f, const Bytes& p, TimePoint at);
    void calibrate(const Bytes& f, const Bytes& p, TimePoint at);
    void calibrationAnswer(TimePoint at);
    void switchRate(const Bytes& f, const Bytes& p, TimePoint at);
    void erase(const Bytes& f, const Bytes& p, TimePoint at);
    void write(const Bytes& f, const Bytes& p, TimePoint at);
    void storeOptions(const Bytes& f, const Bytes& p, TimePoint at);
    uint16_t measuredCount(uint8_t first, uint8_t second);
    int jitter();
    void trimTo(double hz);
    LineSettings settingsAt(double rate) const;

    StcModernModel model_;
    size_t codeBytes_ = 0;
    // What the chip keeps across power cycles (its option block).
    Bytes mcs_;
    uint8_t trim_[2] = {0, 0};
    int divider_ = 1;
    std::optional<uint32_t> storedHz_;
    // The session.
    State state_ = State::WaitSync;
    StcSyncBurst sync_;
    TimePoint ackSentAt_{};
    std::optional<TimePoint> statusDue_;
    LineSettings handshake_;
    StcFrameAssembler assembler_;
    // Calibration in progress: the request, its challenges, pulses measured.
    Bytes calRequest_;
    std::vector<std::pair<uint8_t, uint8_t>> challenges_;
    int pulses_ = 0;
    TimePoint calFrameEnd_{};
    TimePoint lastPulse_{};
    int blocks_ = 0;
    uint32_t nextAddress_ = 0;
    uint64_t jitterDraws_ = 0;
    Rng noise_;
};

} // namespace talvo::sim
