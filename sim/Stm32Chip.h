#pragma once
// STM32 system bootloader on USART1 (8E1), as ST's USART protocol and real
// parts behave: init 7F, Get, Get Version, Get ID, Read Memory, Go, Write
// Memory, Erase (43: F1, bootloader 2.x) or Extended Erase (44: bootloader
// 3.x), Write/Readout Protect and Unprotect.
//
// Each model has its own flash: uniform pages or sectors of differing sizes
// (F4), the write unit every flash write must be a multiple of and aligned
// to, and how its cells are programmed -- half-words (F0/F1: a half-word
// that is not erased takes only 0000), bytes (F4: bits are cleared, old AND
// new), or double words with their ECC (G0/L4: a double word that is not
// erased takes only zeros).  A read-protected chip (option rdp) serves only
// Get, Get Version, Get ID and Readout Unprotect, which erases the whole
// flash, drops the protection and resets the chip.

#include "sim/SimChip.h"

namespace talvo::sim {

struct Stm32Model {
    std::string name;
    std::string title;
    uint16_t pid;
    size_t flashSize;
    size_t pageSize;
    size_t ramSize;
    uint8_t version = 0x22;                   // bootloader version (Get, Get Version)
    Bytes commands = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x63, 0x73, 0x82, 0x92}; // offered in answer to Get
    uint32_t flashSizeAddress = 0x1FFFF7E0;   // the flash size in KB (little-endian), FF FF after it
    uint32_t systemBase = 0x1FFFF000;         // start of system memory (bootloader ROM and device data)
    uint32_t systemEnd = 0x1FFFF800;          // end of the readable system memory and device data
    uint32_t optionBase = 0x1FFFF800;         // option bytes
    uint32_t optionEnd = 0x1FFFF810;
    uint32_t ramReserved = 0x200;             // RAM the bootloader keeps for itself
    uint32_t uniqueIdAddress = 0x1FFFF7E8;    // the 96-bit unique ID (0: none)
    std::vector<size_t> sectors = {};         // erase units of differing sizes in address order (none: pages)
    size_t writeUnit = 4;                     // every flash write a multiple of this, aligned to it
    enum class Cells { HalfWord, Byte, DoubleWord } cells = Cells::HalfWord; // how the flash is programmed
    double writeSecondsPerByte = 26e-6;                                      // programming time (F1: 52 us a half-word)
    double pageEraseMin = 0.020; // seconds to erase a page, from ... (sectors: by their size)
    double pageEraseMax = 0.040; // ... to
    double massEraseSeconds = 0.040;
    bool readProtected = false; // readout protection on from the start (option rdp)
};

const std::vector<Stm32Model>& stm32Models();
const Stm32Model* findStm32Model(const std::string& name);

class Stm32Chip : public SimChip {
public:
    static constexpr uint32_t kFlashBase = 0x08000000;
    static constexpr uint32_t kRamBase = 0x20000000;
    static constexpr uint8_t kAck = 0x79;
    static constexpr uint8_t kNack = 0x1F;

    Stm32Chip(const Stm32Model& model, ChipOptions options);
    uint8_t nativeParity() const override { return 2; }
    uint32_t flashBase() const override { return kFlashBase; }
    const Stm32Model& model() const { return model_; }
    bool readoutProtected() const { return rdp_; }
    bool initialised() const { return state_ != State::WaitInit && state_ != State::User; }
    bool runningUserCode() const { return state_ == State::User; }

protected:
    void bootloaderStart(TimePoint now) override;
    std::optional<LineSettings> receiverFor(const LineSettings& host) const override;
    void onChar(const UartChar& c, const LineSettings& host, TimePoint at) override;
    void boardLines(const ModemLines& before, const ModemLines& now, TimePoint at) override;
    bool waitingForSync() const override { return state_ == State::WaitInit; }

private:
    enum class State {
        WaitInit, Command, Complement, ReadAddress, ReadCount, GoAddress, WriteAddress, WriteData,
        EraseCount, ExtendedEraseCount, ProtectCount, User
    };
    // Bytes still needed before the current unit can be judged.
    void expect(State s, size_t n);
    void unitComplete(TimePoint at);
    void command(uint8_t code, TimePoint at);
    void ack(TimePoint at, double delay = 0.0);
    void nack(TimePoint at, const std::string& why);
    void done(TimePoint at, bool accepted, const std::string& note);
    void systemReset(TimePoint after);
    bool readable(uint32_t addr, size_t n) const;
    uint8_t readByte(uint32_t addr) const;
    bool offers(uint8_t code) const;
    // Erases `units` (pages or sectors, each checked to exist first) and
    // acknowledges when done.
    void eraseUnits(const std::vector<size_t>& units, TimePoint at);
    void massErase(TimePoint at, const std::string& note);
    size_t unitCount() const;
    // The flash offset and size of unit `u`.
    std::pair<size_t, size_t> unit(size_t u) const;
    // Programs `data` at flash offset `off`; the reason when the cells refuse.
    std::optional<std::string> program(size_t off, const Bytes& data);
    // The write-protection bit that guards flash offset `off`.
    unsigned protectionGroup(size_t off) const;
    static bool xorOk(const Bytes& b);
    static uint32_t address(const Bytes& b);

    Stm32Model model_;
    State state_ = State::WaitInit;
    Bytes unit_;       // bytes of the current unit (address + checksum, count + data + checksum, ...)
    size_t need_ = 0;
    bool unitBad_ = false; // a byte of the unit arrived with a parity or framing error
    Bytes exchange_;   // every byte of the current command, for the record
    uint8_t cmd_ = 0;
    uint32_t addr_ = 0;
    bool rdp_ = false;
    uint32_t wrp_ = 0xFFFFFFFF; // WRP bits: 0 = the sector is write-protected
    bool bootPinHigh_ = true;
    int runWords_ = 0;          // flash words written in this run (fault bad-word)
    bool badWordDone_ = false;
    Bytes ram_;
    Bytes system_; // system memory and device data, from model_.systemBase
    Bytes optionBytes_;
};

} // namespace talvo::sim
