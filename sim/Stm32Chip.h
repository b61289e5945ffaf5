#pragma once
// STM32 system bootloader on USART1 (8E1), as ST's USART protocol and real
// parts behave: init 7F, Get, Get Version, Get ID, Read Memory, Go, Write
// Memory, Erase (43: F1, bootloader 2.x) or Extended Erase (44: F0,
// bootloader 3.x), Write/Readout Protect and Unprotect.

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
    uint32_t ramReserved = 0x200;             // RAM the bootloader keeps for itself
    bool uniqueId = true;                     // the 96-bit unique ID at 0x1FFFF7E8 (F1)
};

const std::vector<Stm32Model>& stm32Models();
const Stm32Model* findStm32Model(const std::string& name);

class Stm32Chip : public SimChip {
public:
    static constexpr uint32_t kFlashBase = 0x08000000;
    static constexpr uint32_t kSystemEnd = 0x1FFFF800; // system memory ends where the option bytes start
    static constexpr uint32_t kOptionBase = 0x1FFFF800;
    static constexpr uint32_t kOptionEnd = 0x1FFFF810;
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
    // Erases `pages` (each checked to exist first) and acknowledges when done.
    void erasePages(const std::vector<size_t>& pages, TimePoint at);
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
    Bytes system_;
    Bytes optionBytes_;
};

} // namespace talvo::sim
