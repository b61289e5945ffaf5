#pragma once
// What the download needs to know about an STM32 beyond what its bootloader
// says, keyed by the product ID that Get ID answers: its name and family,
// where its flash lies and how it is erased (uniform pages, or a table of
// sectors), where the chip keeps its flash size, the RAM the bootloader
// leaves the host, the option bytes and system memory, the write unit, and
// the command facts a host must heed (flags).  The rows are every row of the
// chip facts file shared/stm32-parts.csv, generated into Stm32PartTable.cpp
// by scripts/stm32-parts.sh.
//
// Erase units are numbered from the flash start in address order; that
// number is what Erase (0x43) and Extended Erase (0x44) name.

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

namespace talvo::protocol {

// A run of erase units of one size.  Pages: one run whose count is 0 ("as
// many as the flash holds").  Sectors: runs in address order, each with its
// count ("16x4,64,128x7").
struct Stm32EraseRun {
    uint32_t bytes;
    uint16_t count;
};

// Command facts of a part (the CSV's flags column).
enum class Stm32Flag : uint32_t {
    NoMassErase = 1u << 0,      // mass erase is refused: erase unit by unit
    OblLaunchReset = 1u << 1,   // empty-check boot: after programming a blank chip a reset re-enters the bootloader
    PemptyReset = 1u << 2,      // the same on L45x/46x
    LegacyErase0x43 = 1u << 3,  // USART protocol 2.x: Erase (0x43) with one-byte page numbers
    VoltageRange = 1u << 4,     // F2/F4/F7: write width follows the voltage byte at 0xFFFF0000
    DualBank = 1u << 5,         // two flash banks (units numbered across both)
    OptionsNotMapped = 1u << 6, // option bytes are flash registers, not memory
    NoHostRam = 1u << 7,        // the bootloader keeps all RAM
    DataEeprom = 1u << 8,       // data EEPROM at 0x08080000, not touched by Erase
    PidShared = 1u << 9,        // several lines answer this product ID
    GvExtraAck = 1u << 10,      // an extra acknowledge before the Get Version reply
    RadioStackFlash = 1u << 11, // the top of the flash can hold the protected radio stack
    An2606Only = 1u << 12,      // provenance: ST's bootloader note only
    Stm32flashOnly = 1u << 13,  // provenance: stm32flash's table only
    Conflict = 1u << 14,        // the sources disagree on this row (see the file's row notes)
};

constexpr uint32_t Stm32Flags(std::initializer_list<Stm32Flag> flags) {
    uint32_t bits = 0;
    for (Stm32Flag f : flags) bits |= static_cast<uint32_t>(f);
    return bits;
}

struct Stm32FlagName {
    Stm32Flag flag;
    const char* name; // as the CSV writes it: "no-mass-erase"
};
std::span<const Stm32FlagName> Stm32FlagNames();

struct Stm32Part {
    uint16_t pid;
    const char* name;   // "STM32F401xB(C)"
    const char* family; // "F4"
    uint32_t ramStart;  // RAM the host may use: [ramStart, ramEnd)
    uint32_t ramEnd;
    uint32_t flashStart;
    uint32_t flashEnd;                          // exclusive, for the largest part of the ID; 0 when not known
    std::span<const Stm32EraseRun> eraseLayout; // empty when not known
    uint32_t flashSizeAddress;                  // 16-bit flash size in KB, little-endian; 0 when not known
    uint32_t optionStart; // option bytes [optionStart, optionEnd); 0 when not memory-mapped or not known
    uint32_t optionEnd;
    uint32_t systemStart; // system memory (the bootloader's ROM)
    uint32_t systemEnd;
    int writeUnit;  // every flash write a multiple of this, at an address aligned to it
    uint32_t flags; // Stm32Flag bits

    bool has(Stm32Flag f) const { return (flags & static_cast<uint32_t>(f)) != 0; }
    bool isF1() const;
};

// Every row, in the file's order.
std::span<const Stm32Part> Stm32PartTable();

// F1 parts keep their flash size here; the download reads it at this address
// when the product ID is not in the table.
inline constexpr uint32_t kStm32F1FlashSizeAddress = 0x1FFFF7E0;
inline constexpr int kStm32DefaultPageSize = 1024;
inline constexpr int kStm32DefaultWriteUnit = 4;
inline constexpr uint32_t kStm32SramBase = 0x20000000;

// The entry of `pid`, or null for an ID the table does not hold.
const Stm32Part* FindStm32Part(uint16_t pid);

// "STM32F10xxx Medium-density (0x410)", or "STM32 (0x0abc)" for an unknown ID.
QString Stm32PartLabel(uint16_t pid);

// The SRAM from 0x20000000 up to the end of the RAM the bootloader leaves the
// host, in KB; 0 where the part's RAM does not lie there.
int Stm32SramKb(const Stm32Part& part);

// The flash in KB that the flash-size register's value `registerKb` stands
// for on `part` (one ID encodes its sizes as codes: 0 for 384 KB, 1 for 256 KB).
int Stm32FlashKbFromRegister(const Stm32Part& part, int registerKb);

// The most erase units one erase command may name on `part` (null: unknown
// ID).  Some bootloaders erase several pages per command unreliably.
int Stm32MaxUnitsPerErase(const Stm32Part* part, bool extended);

// ---- The erase layout -----------------------------------------------------------
// Erase units over a flash from `flashStart` to `flashEnd` (exclusive).
// Uniform pages or sectors; a layout without runs is unknown.
struct Stm32Units {
    int first = 0; // number of the first unit
    int count = 0;
    uint64_t start = 0; // address of the first unit's first byte
    uint64_t end = 0;   // address after the last unit
    int last() const { return first + count - 1; }
};

class Stm32Layout {
public:
    Stm32Layout(std::span<const Stm32EraseRun> runs, uint32_t flashStart, uint64_t flashEnd);
    // Uniform pages of `pageSize` bytes up to `flashEnd` (0: no end known).
    static Stm32Layout Pages(uint32_t pageSize, uint32_t flashStart, uint64_t flashEnd);

    bool known() const { return !runs().empty(); }
    bool uniform() const { return known() && runs().front().count == 0; }
    // "页" for pages, "扇区" for sectors: what the log calls a unit.
    QString unitWord() const;
    // Bytes of a page (uniform layouts; 0 otherwise).
    uint32_t pageSize() const { return uniform() ? runs().front().bytes : 0; }
    // Units within the flash (0 when the layout is unknown or the flash has no end).
    int unitCount() const;
    // Units `first` to `first` + `count` - 1; nullopt when they do not all exist.
    std::optional<Stm32Units> Units(int first, int count) const;
    // The units that hold the addresses [first, end); nullopt when the
    // layout is unknown or the range does not lie within the units the
    // layout describes (first < end required).
    std::optional<Stm32Units> Covering(uint64_t first, uint64_t end) const;
    // Every unit of the flash.
    std::optional<Stm32Units> All() const;

private:
    // Calls `each(number, start, size)` for every unit until it returns false.
    template <typename F>
    void ForEach(F each) const;
    std::span<const Stm32EraseRun> runs() const { return ownPages_ ? std::span(&pages_, 1) : runs_; }

    std::span<const Stm32EraseRun> runs_;
    Stm32EraseRun pages_{}; // the run of Pages(), kept here so that copies stay whole
    bool ownPages_ = false;
    uint32_t flashStart_;
    uint64_t flashEnd_;
};

} // namespace talvo::protocol
