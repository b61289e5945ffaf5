#include "protocol/Stm32Parts.h"

#include <QCoreApplication>

#include <cstring>

namespace talvo::protocol {

namespace {

constexpr Stm32FlagName kFlagNames[] = {
    {Stm32Flag::NoMassErase, "no-mass-erase"},
    {Stm32Flag::OblLaunchReset, "obl-launch-reset"},
    {Stm32Flag::PemptyReset, "pempty-reset"},
    {Stm32Flag::LegacyErase0x43, "legacy-erase-0x43"},
    {Stm32Flag::VoltageRange, "voltage-range"},
    {Stm32Flag::DualBank, "dual-bank"},
    {Stm32Flag::OptionsNotMapped, "options-not-mapped"},
    {Stm32Flag::NoHostRam, "no-host-ram"},
    {Stm32Flag::DataEeprom, "data-eeprom"},
    {Stm32Flag::PidShared, "pid-shared"},
    {Stm32Flag::GvExtraAck, "gv-extra-ack"},
    {Stm32Flag::RadioStackFlash, "radio-stack-flash"},
    {Stm32Flag::An2606Only, "an2606-only"},
    {Stm32Flag::Stm32flashOnly, "stm32flash-only"},
    {Stm32Flag::Conflict, "conflict"},
};

// Facts the chip facts file gives in its row notes rather than its columns.
// The L1 part 0x436 answers its flash-size register with a code: 0 for its
// 384 KB parts, 1 for its 256 KB ones (RM0038).
constexpr uint16_t kFlashSizeCodedPid = 0x436;
// The G07x/08x bootloader 11.3 erases several pages per command unreliably:
// one page per command.
constexpr uint16_t kOnePagePerErasePid = 0x460;
// One byte numbers the pages of Erase (0x43): 256 at most.  Extended Erase
// (0x44) could name more, but some L1 bootloaders refuse more than 512 units
// per command; 511 is what stm32flash sends.
constexpr int kMaxUnitsErase = 256;
constexpr int kMaxUnitsExtendedErase = 511;

} // namespace

std::span<const Stm32FlagName> Stm32FlagNames() { return kFlagNames; }

bool Stm32Part::isF1() const { return std::strcmp(family, "F1") == 0; }

const Stm32Part* FindStm32Part(uint16_t pid) {
    for (const Stm32Part& p : Stm32PartTable())
        if (p.pid == pid) return &p;
    return nullptr;
}

QString Stm32PartLabel(uint16_t pid) {
    const Stm32Part* p = FindStm32Part(pid);
    const QString id = QStringLiteral("0x%1").arg(pid, p ? 3 : 4, 16, QLatin1Char('0'));
    return p ? QStringLiteral("%1 (%2)").arg(QString::fromUtf8(p->name), id) : QStringLiteral("STM32 (%1)").arg(id);
}

int Stm32SramKb(const Stm32Part& part) {
    // RAM regions of 1 MB from 0x20000000; elsewhere (H7R/S's AXI SRAM) the
    // figure would not be the SRAM's.
    if (part.ramEnd <= kStm32SramBase || part.ramEnd > kStm32SramBase + 0x100000) return 0;
    return static_cast<int>((part.ramEnd - kStm32SramBase) / 1024);
}

int Stm32FlashKbFromRegister(const Stm32Part& part, int registerKb) {
    if (part.pid == kFlashSizeCodedPid) {
        if (registerKb == 0) return 384;
        if (registerKb == 1) return 256;
    }
    return registerKb;
}

int Stm32MaxUnitsPerErase(const Stm32Part* part, bool extended) {
    if (part && part->pid == kOnePagePerErasePid) return 1;
    return extended ? kMaxUnitsExtendedErase : kMaxUnitsErase;
}

// ---- The erase layout -----------------------------------------------------------

Stm32Layout::Stm32Layout(std::span<const Stm32EraseRun> runs, uint32_t flashStart, uint64_t flashEnd)
    : runs_(runs),
      flashStart_(flashStart),
      flashEnd_(flashEnd) {}

Stm32Layout Stm32Layout::Pages(uint32_t pageSize, uint32_t flashStart, uint64_t flashEnd) {
    Stm32Layout l({}, flashStart, flashEnd);
    l.pages_ = {pageSize, 0};
    l.ownPages_ = true;
    return l;
}

QString Stm32Layout::unitWord() const {
    return uniform() ? QCoreApplication::translate("Stm32Parts", "页")
                     : QCoreApplication::translate("Stm32Parts", "扇区");
}

template <typename F>
void Stm32Layout::ForEach(F each) const {
    int number = 0;
    uint64_t at = flashStart_;
    for (const Stm32EraseRun& run : runs()) {
        if (run.bytes == 0) return;
        // Units lie within the flash (without a known end: within the 4 GB
        // address space); pages repeat up to that end.
        const uint64_t limit = flashEnd_ > 0 ? flashEnd_ : (uint64_t(1) << 32);
        for (int k = 0; run.count == 0 || k < run.count; ++k) {
            if (at + run.bytes > limit) return;
            if (!each(number, at, run.bytes)) return;
            ++number;
            at += run.bytes;
        }
    }
}

int Stm32Layout::unitCount() const {
    if (flashEnd_ == 0) return 0;
    int n = 0;
    ForEach([&](int, uint64_t, uint32_t) { return ++n, true; });
    return n;
}

std::optional<Stm32Units> Stm32Layout::Covering(uint64_t first, uint64_t end) const {
    if (!known() || first >= end || first < flashStart_) return std::nullopt;
    if (uniform()) {
        // Pages: arithmetic, whatever the flash's size.
        const uint64_t size = runs().front().bytes;
        const uint64_t from = (first - flashStart_) / size;
        const uint64_t to = (end - 1 - flashStart_) / size;
        const uint64_t unitsEnd = flashStart_ + (to + 1) * size;
        if (flashEnd_ > 0 && unitsEnd > flashEnd_) return std::nullopt;
        return Stm32Units{static_cast<int>(from), static_cast<int>(to - from + 1), flashStart_ + from * size, unitsEnd};
    }
    Stm32Units u;
    bool found = false;
    ForEach([&](int number, uint64_t start, uint32_t size) {
        const uint64_t unitEnd = start + size;
        if (unitEnd <= first) return true;
        if (!found) {
            found = true;
            u.first = number;
            u.start = start;
        }
        u.count = number - u.first + 1;
        u.end = unitEnd;
        return unitEnd < end;
    });
    if (!found || u.end < end) return std::nullopt;
    return u;
}

std::optional<Stm32Units> Stm32Layout::Units(int first, int count) const {
    if (!known() || first < 0 || count < 1) return std::nullopt;
    if (uniform()) {
        const uint64_t size = pageSize();
        const Stm32Units u{first, count, flashStart_ + uint64_t(first) * size,
                           flashStart_ + uint64_t(first + count) * size};
        if (flashEnd_ > 0 && u.end > flashEnd_) return std::nullopt;
        return u;
    }
    Stm32Units u{first, 0, 0, 0};
    ForEach([&](int number, uint64_t start, uint32_t size) {
        if (number == first) u.start = start;
        if (number >= first) {
            ++u.count;
            u.end = start + size;
        }
        return u.count < count;
    });
    if (u.count < count) return std::nullopt;
    return u;
}

std::optional<Stm32Units> Stm32Layout::All() const {
    if (flashEnd_ <= flashStart_) return std::nullopt;
    const auto all = Covering(flashStart_, flashEnd_);
    // Units that do not fill the flash exactly: the layout does not fit it.
    if (!all || all->end != flashEnd_) return std::nullopt;
    return all;
}

} // namespace talvo::protocol
