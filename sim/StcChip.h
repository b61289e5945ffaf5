#pragma once
// STC 8051 serial bootloaders: the one-byte-checksum family (STC89, STC90;
// 8N1) and the two-byte-checksum family (STC10/11/12; 8E1), as real chips
// behave on the wire.

#include <string>
#include <vector>

#include "sim/SimChip.h"
#include "sim/StcFrameAssembler.h"

namespace talvo::sim {

enum class StcFamily { OneByte, TwoByte };

struct StcModel {
    std::string name;   // simulator name ("stc89c52rc")
    std::string title;  // what `talvo sim --list` shows
    StcFamily family;
    uint8_t version;    // 0x43 = 4.3
    uint8_t stepping;   // 'C'
    uint8_t model[2];   // model code
    size_t flashSize;
    bool sixClockCapable;  // the option byte can select 6-clock mode
    bool statusWithStart;  // the status frame begins with 46 B9
    // Measured count / f*7/(r*T).  The 1T cores of the two-byte family count
    // a little low: the captured STC12C5A60S2 on a 20 MHz crystal at 9600
    // baud sends 1212-1213 where the formula gives 1215.3.
    double countScale;
    Bytes statusTail;      // status bytes after the model code
    Bytes uid;             // 7-byte unique ID (two-byte family)
    Bytes optionBytes;     // returned by the two-byte family's 8D
    // Answer times in seconds (before scaling).
    double switchAnswer;   // 8F / 8E
    double controlAnswer;  // 80 (one-byte) / 50 (two-byte)
    double eraseTime;
    double writeMin, writeMax; // per 128-byte block
    double finishAnswer;   // 8D, 69, 82
    bool eraseAnswerHasUid;
};

const std::vector<StcModel>& stcModels();
const StcModel* findStcModel(const std::string& name);

class StcChip : public SimChip {
public:
    enum class State { WaitSync, Ready, Done };

    StcChip(const StcModel& model, ChipOptions options);

    const StcModel& model() const { return model_; }
    uint8_t nativeParity() const override { return model_.family == StcFamily::TwoByte ? 2 : 0; }
    State state() const { return state_; }
    // Settings the chip answered the status frame with (the handshake rate).
    LineSettings handshake() const { return handshake_; }
    // Settings the chip returns to after a switch answer (8E moves it).
    LineSettings home() const { return home_; }
    const std::vector<uint16_t>& lastCounts() const { return counts_; }
    // Bytes from address 0 that the last erase of this session covered.
    size_t erasedBytes() const { return erasedBytes_; }
    int clockDivider() const; // T in count = f*7/(r*T): 12 or 6
    // The count the chip measures for one 7F at `baud` without jitter (exact value).
    double exactCount(uint32_t baud) const;
    // The UART rate the chip takes for reload byte `rr` (its clock's drift included).
    double rateForReload(uint8_t rr) const;
    // The status frame for a handshake at `baud` (jitter applied as configured).
    Bytes statusFrame(uint32_t baud);
    // An answer frame of this family around `payload` (46 B9 68 L payload cs 16).
    Bytes frame(const Bytes& payload) const;

protected:
    void bootloaderStart(TimePoint now) override;
    std::optional<LineSettings> receiverFor(const LineSettings& host) const override;
    void onChar(const UartChar& c, const LineSettings& host, TimePoint at) override;
    void onModelTimer(TimePoint now) override;
    std::optional<TimePoint> modelWake() const override;
    bool waitingForSync() const override { return state_ == State::WaitSync && sync_.heardNothing(); }

private:
    void sendStatus(TimePoint at);
    void handleFrame(Bytes f, bool garbled, TimePoint at);
    void oneByteCommand(const Bytes& f, const Bytes& payload, TimePoint at);
    void twoByteCommand(const Bytes& f, const Bytes& payload, TimePoint at);
    // Checks and performs a write (command 00); returns false when rejected (already recorded).
    bool writeBlock(const Bytes& f, const Bytes& payload, TimePoint at, uint8_t* sum, double* delay);
    void reject(const Bytes& f, TimePoint at, const std::string& why);
    // Erases `pages` 256-byte pages from address 0 (as far as the flash goes).
    void erasePages(size_t pages);
    void switchRate(const Bytes& f, const Bytes& reply, uint8_t reload, bool temporary, TimePoint at);
    LineSettings settingsAt(double rate) const;
    double switchDelay() const;

    StcModel model_;
    State state_ = State::WaitSync;
    StcSyncBurst sync_;
    LineSettings handshake_;
    LineSettings home_;
    std::vector<uint16_t> counts_;
    StcFrameAssembler assembler_;
    size_t erasedBytes_ = 0;
    int blocksThisSession_ = 0;
};

} // namespace talvo::sim
