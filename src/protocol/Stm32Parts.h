#pragma once
// What the download needs to know about an STM32 beyond what its bootloader
// says: where the chip keeps its flash size, how large an erase page is, and
// how much SRAM it has.  Keyed by the product ID that Get ID answers.

#include <QString>

#include <cstdint>

namespace talvo::protocol {

enum class Stm32Family { F0, F1, F3 };

struct Stm32Part {
    uint16_t pid;
    const char* name;           // "STM32F10x medium density"
    Stm32Family family;
    uint32_t flashSizeAddress;  // 16-bit flash size in KB, little-endian
    int pageSize;               // bytes of one erase page
    int sramKb;                 // 0: not one figure for the whole ID (F1: follows from the flash size)
};

// F1 parts keep their flash size here; the download reads it at this address
// when the product ID is not in the table.
inline constexpr uint32_t kStm32F1FlashSizeAddress = 0x1FFFF7E0;
inline constexpr int kStm32DefaultPageSize = 1024;

// The entry of `pid`, or null for an ID the table does not hold.
const Stm32Part* FindStm32Part(uint16_t pid);

// "STM32F10x medium density (0x410)", or "STM32 (0x0abc)" for an unknown ID.
QString Stm32PartLabel(uint16_t pid);

} // namespace talvo::protocol
