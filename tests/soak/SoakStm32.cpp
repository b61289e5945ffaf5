// The STM32 row of the soak: the system bootloader over the USART, downloaded
// with DownloadStm32 (with and without the read-back), on the F103 medium- and
// high-density and the F030 simulators.
#include <algorithm>
#include <cstdio>

#include "protocol/Stm32Session.h"
#include "sim/Stm32Chip.h"
#include "sim/VirtualHost.h"
#include "soak/SoakFamilies.h"

namespace talvo::soak {

using protocol::DownloadReport;
using sim::Rng;

namespace {

constexpr size_t kBlockBytes = 256;
constexpr size_t kWordBytes = 4;

const sim::Stm32Model& modelOf(const SoakCase& c) { return *sim::findStm32Model(c.chip); }

uint8_t oldByte(const SoakCase& c, size_t at) {
    return at < static_cast<size_t>(c.oldFlash.size()) ? static_cast<uint8_t>(c.oldFlash[static_cast<qsizetype>(at)]) : 0xFF;
}

// What a download of the case has to do, worked out from the chip's pages
// and the old flash: the pages the image lies in are erased, and what they
// hold outside the image is read first (256 bytes a read) and written back
// with it -- from the first byte that is not 0xFF to the last, on words.
struct Stm32Plan {
    size_t pages = 0;
    size_t keptReads = 0; // pieces of up to 256 bytes
    size_t blocks = 0; // written (and, verified, read back)
};

size_t reads(size_t bytes) { return (bytes + kBlockBytes - 1) / kBlockBytes; }

Stm32Plan planOf(const SoakCase& c) {
    const sim::Stm32Model& m = modelOf(c);
    const size_t first = c.flashOffset;
    const size_t end = first + static_cast<size_t>(c.image.size());
    const size_t pageStart = first / m.pageSize * m.pageSize;
    const size_t pageEnd = std::min(m.flashSize, (end - 1) / m.pageSize * m.pageSize + m.pageSize);
    size_t from = pageStart;
    while (from < first && oldByte(c, from) == 0xFF) ++from;
    size_t to = pageEnd;
    while (to > end && oldByte(c, to - 1) == 0xFF) --to;
    from = from / kWordBytes * kWordBytes;
    to = (to + kWordBytes - 1) / kWordBytes * kWordBytes;
    return {(pageEnd - pageStart) / m.pageSize, reads(first - pageStart) + reads(pageEnd - end), reads(to - from)};
}

// Each piece kept is read until two reads agree: twice, or three times.
constexpr size_t kKeptReadsUsual = 2;
constexpr size_t kKeptReadsMost = 3;

int stm32Blocks(const SoakCase& c) { return static_cast<int>(planOf(c).blocks); }
// Commands the chip counts (silent-after, delay-from): Get, Get ID, the read
// of the flash size, the reads of the bytes to keep, the erase, one write per
// block and, verified, one read per block.
int stm32Frames(const SoakCase& c) {
    const Stm32Plan p = planOf(c);
    return static_cast<int>(4 + p.keptReads * kKeptReadsUsual + p.blocks * (c.verify ? 2 : 1));
}

void makeStm32Case(SoakCase& c, Rng& rng) {
    c.chipType = 0;
    c.verify = rng.chance(0.5);
    c.selector = c.chip;
    const sim::Stm32Model& m = modelOf(c);
    c.image = makeImage(rng, imageSize(rng, static_cast<int>(std::min<size_t>(m.flashSize, 16 * 1024))));
    // Now and then an application behind a bootloader of its own: at a page
    // boundary, or on any word.
    if (rng.chance(0.3)) {
        const size_t room = m.flashSize - static_cast<size_t>(c.image.size());
        c.flashOffset = rng.chance(0.5) ? static_cast<size_t>(rng.range(0, static_cast<int>(room / m.pageSize))) * m.pageSize
                                        : static_cast<size_t>(rng.range(0, static_cast<int>(room / kWordBytes))) * kWordBytes;
    }
    c.oldFlash = oldFirmware(rng, m.flashSize);
}

// The download's limits (a command's answer 40
// ticks, the start byte's and a data block's 30), and the erase's allowance
// of 40 ms a page beyond its command limit.
const double kConnectSeconds = ticksToSeconds(30);
const double kCommandSeconds = ticksToSeconds(40);
const double kBlockSeconds = ticksToSeconds(30);
constexpr double kEraseSecondsPerPage = 0.04;

double stm32Bound(const SoakCase& c, const RunCost& cost) {
    const Stm32Plan p = planOf(c);
    // Get, Get ID, Read Memory (command, address, count); Read Memory for
    // each piece kept; Erase and its page list; per block Write Memory
    // (command, address) and the data; verified, per block Read Memory again.
    const double identify = 5 * kCommandSeconds;
    const double keep = static_cast<double>(p.keptReads * kKeptReadsMost) * 3 * kCommandSeconds;
    const double erase = 2 * kCommandSeconds + static_cast<double>(p.pages) * kEraseSecondsPerPage;
    const double write = static_cast<double>(p.blocks) * (2 * kCommandSeconds + kBlockSeconds);
    const double verify = c.verify ? static_cast<double>(p.blocks) * 3 * kCommandSeconds : 0;
    return kConnectSeconds + identify + keep + erase + write + verify + cost.pauseSeconds + cost.hostWireSeconds;
}

// The bootloader measures the host's rate from the start byte: the link's
// error is the chip clock's drift alone.
double stm32LinkError(const SoakCase&) { return 0.0; }

DownloadReport stm32Download(sim::VirtualHost& host, const SoakCase& c) {
    protocol::Stm32Options o;
    o.image = c.image;
    o.verify = c.verify;
    o.address = protocol::kStm32FlashBase + static_cast<uint32_t>(c.flashOffset);
    return protocol::DownloadStm32(host, o);
}

// Each byte has its parity bit on this line: a flipped bit is seen, so no
// frame gets past its checksum altered.
std::vector<std::pair<size_t, size_t>> noUnseenWireErrors(const SoakCase&, const sim::SimChip&) { return {}; }
// A success leaves every byte outside the image as it was: the erased pages'
// other bytes were written back.
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
    {"连接超时...", "no answer"},
    {"写数据失败，重试!", "write"},
    {"芯片拒绝了", "refused"},
    {"校验失败", "verify"},
    {"擦除的页中映像以外的数据（", "keep"},
};

const std::vector<FaultKind> kStm32Kinds = {
    FaultKind::None,       FaultKind::Drop,        FaultKind::Corrupt,    FaultKind::Delay,
    FaultKind::SilentAfter, FaultKind::NackBlock,  FaultKind::BadWord,    FaultKind::HangUp,
    FaultKind::RateInside, FaultKind::RateOutside, FaultKind::SplitReads, FaultKind::Mixed};

} // namespace

Family Stm32Family() {
    Family f;
    f.key = "stm32";
    f.title = "STM32 system bootloader (STM32F103, STM32F103 high density, STM32F030x8)";
    f.chips = {"stm32f103", "stm32f103hd", "stm32f030"};
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
