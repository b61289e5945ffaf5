#pragma once
// STM32F103 system bootloader on USART1 (8E1), as ST's USART protocol and
// real F1 parts behave: init 7F, Get, Get Version, Get ID, Read Memory, Go,
// Write Memory, Erase (43), Write/Readout Protect and Unprotect.

#include "sim/SimChip.h"

namespace talvo::sim {

struct Stm32Model {
    std::string name;
    std::string title;
    uint16_t pid;
    size_t flashSize;
    size_t pageSize;
    size_t ramSize;
};

const std::vector<Stm32Model>& stm32Models();
const Stm32Model* findStm32Model(const std::string& name);

class Stm32Chip : public SimChip {
public:
    static constexpr uint32_t kFlashBase = 0x08000000;
    static constexpr uint32_t kSystemBase = 0x1FFFF000; // system memory (bootloader ROM) and device data
    static constexpr uint32_t kSystemEnd = 0x1FFFF800;
    static constexpr uint32_t kOptionBase = 0x1FFFF800;
    static constexpr uint32_t kOptionEnd = 0x1FFFF810;
    static constexpr uint32_t kRamBase = 0x20000000;
    static constexpr uint32_t kRamReserved = 0x200; // used by the bootloader itself
    static constexpr uint8_t kAck = 0x79;
    static constexpr uint8_t kNack = 0x1F;

    Stm32Chip(const Stm32Model& model, ChipOptions options);
    uint8_t nativeParity() const override { return 2; }
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
        EraseCount, EraseGlobal, ErasePages, ProtectCount, ProtectSectors, User
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
    Bytes ram_;
    Bytes system_;
    Bytes optionBytes_;
};

} // namespace talvo::sim
