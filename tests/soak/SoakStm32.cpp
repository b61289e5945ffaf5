// The STM32 row of the soak: the system bootloader over the USART, downloaded
// with DownloadStm32 (with and without the read-back, now and then with a
// mass erase or on a read-protected chip, removing the protection or not),
// on the F103 medium- and high-density, F030, F401 (sectors), G071 and L431
// (8-byte write unit) simulators.
#include <algorithm>
#include <cstdio>

#include "protocol/Stm32Parts.h"
#include "protocol/Stm32Session.h"
#include "sim/Stm32Chip.h"
#include "sim/VirtualHost.h"
#include "soak/SoakFamilies.h"

namespace talvo::soak {

using protocol::DownloadReport;
using sim::Rng;

namespace {

constexpr size_t kBlockBytes = 256;

const sim::Stm32Model& modelOf(const SoakCase& c) { return *sim::findStm32Model(c.chip); }

// What the chip holds before the download where the download does not
// change it -- nothing at all once it was erased whole (a mass erase asked
// for, or the removal of the read protection).
bool erasedWhole(const SoakCase& c) { return c.massErase || (c.readProtected && c.unprotect); }
uint8_t oldByte(const SoakCase& c, size_t at) {
    if (erasedWhole(c)) return 0xFF;
    return at < static_cast<size_t>(c.oldFlash.size()) ? static_cast<uint8_t>(c.oldFlash[static_cast<qsizetype>(at)]) : 0xFF;
}

// The erase unit (page or sector) of the model that holds flash offset `at`: [start, end).
std::pair<size_t, size_t> unitAt(const sim::Stm32Model& m, size_t at) {
    if (m.sectors.empty()) return {at / m.pageSize * m.pageSize, at / m.pageSize * m.pageSize + m.pageSize};
    size_t start = 0;
    for (size_t size : m.sectors) {
        if (at < start + size) return {start, start + size};
        start += size;
    }
    return {start, start};
}

// What a download of the case has to do, worked out from the chip's units
// and the old flash: the units the image lies in are erased, and what they
// hold outside the image is read first (256 bytes a read) and written back
// with it -- from the first byte that is not 0xFF to the last, on the chip's
// write unit.  A mass erase keeps nothing.
struct Stm32Plan {
    size_t units = 0;         // erased one by one
    size_t eraseCommands = 0; // the erase commands that name them (or the mass erase)
    double eraseSeconds = 0;  // what the download allows the erases beyond their command limits
    size_t keptReads = 0;     // pieces of up to 256 bytes
    size_t blocks = 0;        // written (and, verified, read back)
};

size_t reads(size_t bytes) { return (bytes + kBlockBytes - 1) / kBlockBytes; }

// The protocol's allowance for erasing one unit: 50 ms a KB, 40 ms at least.
double unitEraseSeconds(size_t bytes) { return std::max(0.04, static_cast<double>(bytes) / 1024 * 0.05); }
// ... and for a mass erase: 50 ms a KB, 35 s at least (the limit in ticks).
double massEraseSeconds(const sim::Stm32Model& m) {
    return std::max(35.0, 4.0 + static_cast<double>(m.flashSize) / 1024 * 0.05);
}

Stm32Plan planOf(const SoakCase& c) {
    const sim::Stm32Model& m = modelOf(c);
    const size_t unit = m.writeUnit;
    const size_t first = c.flashOffset;
    const size_t end = first + static_cast<size_t>(c.image.size());
    Stm32Plan p;
    if (c.massErase) {
        p.eraseCommands = 1;
        p.eraseSeconds = massEraseSeconds(m);
        p.blocks = reads((end + unit - 1) / unit * unit - first / unit * unit);
        return p;
    }
    const size_t unitsStart = unitAt(m, first).first;
    const size_t unitsEnd = std::min(m.flashSize, unitAt(m, end - 1).second);
    for (size_t at = unitsStart; at < unitsEnd; at = unitAt(m, at).second) {
        ++p.units;
        p.eraseSeconds +=
            unitEraseSeconds(unitAt(m, at).second - at) + 0.1; // rounded up to a tick per command, at most
    }
    const int perCommand = protocol::Stm32MaxUnitsPerErase(protocol::FindStm32Part(m.pid), true);
    p.eraseCommands = (p.units + static_cast<size_t>(perCommand) - 1) / static_cast<size_t>(perCommand);
    size_t from = unitsStart;
    while (from < first && oldByte(c, from) == 0xFF) ++from;
    size_t to = unitsEnd;
    while (to > end && oldByte(c, to - 1) == 0xFF) --to;
    from = from / unit * unit;
    to = (to + unit - 1) / unit * unit;
    p.keptReads = reads(first - unitsStart) + reads(unitsEnd - end);
    p.blocks = reads(to - from);
    return p;
}

// Each piece kept is read until two reads agree: twice, or three times.
constexpr size_t kKeptReadsUsual = 2;
constexpr size_t kKeptReadsMost = 3;
// A read-protected chip refuses Read Memory three times before the download
// says so (or removes the protection).
constexpr size_t kProtectionProbes = 3;

int stm32Blocks(const SoakCase& c) { return static_cast<int>(planOf(c).blocks); }
// Commands the chip counts (silent-after, delay-from): Get, Get ID, the read
// of the flash size (after the refusals of a protected chip and the removal),
// the reads of the bytes to keep, the erases, one write per block and,
// verified, one read per block.
int stm32Frames(const SoakCase& c) {
    const Stm32Plan p = planOf(c);
    const size_t protection = c.readProtected ? kProtectionProbes + (c.unprotect ? 2 : 0) : 0;
    return static_cast<int>(4 + protection + p.keptReads * kKeptReadsUsual + p.eraseCommands +
                            p.blocks * (c.verify ? 2 : 1));
}

void makeStm32Case(SoakCase& c, Rng& rng) {
    c.chipType = 0;
    c.verify = rng.chance(0.5);
    c.selector = c.chip;
    const sim::Stm32Model& m = modelOf(c);
    c.image = makeImage(rng, imageSize(rng, static_cast<int>(std::min<size_t>(m.flashSize, 16 * 1024))));
    // Now and then an application behind a bootloader of its own: at the
    // start of an erase unit, or on any word.
    if (rng.chance(0.3)) {
        const size_t room = m.flashSize - static_cast<size_t>(c.image.size());
        if (rng.chance(0.5)) {
            std::vector<size_t> starts;
            for (size_t at = 0; at <= room; at = unitAt(m, at).second) starts.push_back(at);
            c.flashOffset = starts[static_cast<size_t>(rng.range(0, static_cast<int>(starts.size()) - 1))];
        } else {
            c.flashOffset = static_cast<size_t>(rng.range(0, static_cast<int>(room / 4))) * 4;
        }
    }
    c.oldFlash = oldFirmware(rng, m.flashSize);
    // Now and then a read-protected chip, whose protection the download
    // removes or not; or a mass erase asked for.
    if (rng.chance(0.1)) {
        c.readProtected = true;
        c.unprotect = rng.chance(0.6);
        c.selector += ",rdp";
    } else if (rng.chance(0.08)) {
        c.massErase = true;
    }
}

// The download's limits (a command's answer 40 ticks, the start byte's and a
// data block's 30), the erase's allowance beyond its command limit, and what
// removing a read protection takes.
const double kConnectSeconds = ticksToSeconds(30);
const double kCommandSeconds = ticksToSeconds(40);
const double kBlockSeconds = ticksToSeconds(30);

double stm32Bound(const SoakCase& c, const RunCost& cost) {
    const Stm32Plan p = planOf(c);
    // Get, Get ID, Read Memory (command, address, count); Read Memory for
    // each piece kept; per erase command Erase and its list; per block Write
    // Memory (command, address) and the data; verified, per block Read
    // Memory again.  A protected chip: the refused reads, and the removal
    // (its erase of the whole flash, the start byte again, Read Memory).
    const double identify = 5 * kCommandSeconds;
    const double protection =
        c.readProtected ? kProtectionProbes * kCommandSeconds +
                              (c.unprotect ? massEraseSeconds(modelOf(c)) + 0.1 + kConnectSeconds + kCommandSeconds : 0)
                        : 0;
    const double keep = static_cast<double>(p.keptReads * kKeptReadsMost) * 3 * kCommandSeconds;
    const double erase = static_cast<double>(p.eraseCommands) * 2 * kCommandSeconds + p.eraseSeconds;
    const double write = static_cast<double>(p.blocks) * (2 * kCommandSeconds + kBlockSeconds);
    const double verify = c.verify ? static_cast<double>(p.blocks) * 3 * kCommandSeconds : 0;
    return kConnectSeconds + identify + protection + keep + erase + write + verify + cost.pauseSeconds +
           cost.hostWireSeconds;
}

// The bootloader measures the host's rate from the start byte: the link's
// error is the chip clock's drift alone.
double stm32LinkError(const SoakCase&) { return 0.0; }

DownloadReport stm32Download(sim::VirtualHost& host, const SoakCase& c) {
    protocol::Stm32Options o;
    o.image = c.image;
    o.verify = c.verify;
    o.address = protocol::kStm32FlashBase + static_cast<uint32_t>(c.flashOffset);
    o.unprotect = c.unprotect;
    o.massErase = c.massErase;
    return protocol::DownloadStm32(host, o);
}

// Each byte has its parity bit on this line: a flipped bit is seen, so no
// frame gets past its checksum altered.
std::vector<std::pair<size_t, size_t>> noUnseenWireErrors(const SoakCase&, const sim::SimChip&) { return {}; }
// A success leaves every byte outside the image as it was (the erased
// units' other bytes were written back), or erased where the whole flash was.
std::string outsideTheImageKept(const SoakCase& c, const sim::SimChip& chip) {
    const auto& flash = chip.flash();
    const size_t end = c.flashOffset + static_cast<size_t>(c.image.size());
    for (size_t at = 0; at < flash.size(); ++at) {
        if (at == c.flashOffset) at = end;
        if (at >= flash.size() || flash[at] == oldByte(c, at)) continue;
        char text[96];
        std::snprintf(text, sizeof text, "the flash outside the image changed at 0x%04zX: was %02X, now %02X", at, oldByte(c, at),
                      flash[at]);
        return text;
    }
    return {};
}

const std::vector<StageLine> kStm32Stages = {
    {"连接超时...", "no answer"},  {"写数据失败，重试!", "write"},         {"芯片拒绝了", "refused"},
    {"校验失败", "verify"},        {"擦除的页中映像以外的数据（", "keep"}, {"擦除的扇区中映像以外的数据（", "keep"},
    {"读保护已开启", "protected"},
};

const std::vector<FaultKind> kStm32Kinds = {
    FaultKind::None,       FaultKind::Drop,        FaultKind::Corrupt,    FaultKind::Delay,
    FaultKind::SilentAfter, FaultKind::NackBlock,  FaultKind::BadWord,    FaultKind::HangUp,
    FaultKind::RateInside, FaultKind::RateOutside, FaultKind::SplitReads, FaultKind::Mixed};

} // namespace

Family Stm32Family() {
    Family f;
    f.key = "stm32";
    f.title = "STM32 system bootloader (STM32F103, STM32F103 high density, STM32F030x8, STM32F401, STM32G071, "
              "STM32L431; some read-protected)";
    f.chips = {"stm32f103", "stm32f103hd", "stm32f030", "stm32f401", "stm32g071", "stm32l431"};
    f.kinds = kStm32Kinds;
    f.stages = kStm32Stages;
    f.makeCase = makeStm32Case;
    f.frames = stm32Frames;
    f.blocks = stm32Blocks;
    f.bound = stm32Bound;
    f.linkError = stm32LinkError;
    f.download = stm32Download;
    f.unseenWireErrors = noUnseenWireErrors;
    f.missingAfterSuccess = outsideTheImageKept;
    return f;
}

} // namespace talvo::soak
