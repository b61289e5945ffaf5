// The STM32 row of the soak: the system bootloader over the USART, downloaded
// with DownloadStm32 (with and without the read-back), on the F103 medium- and
// high-density and the F030 simulators.
#include <algorithm>

#include "protocol/Stm32Download.h"
#include "sim/Stm32Chip.h"
#include "sim/VirtualHost.h"
#include "soak/SoakFamilies.h"

namespace talvo::soak {

using protocol::DownloadReport;
using sim::Rng;

namespace {

constexpr int kBlockBytes = 256;

int stm32Blocks(const SoakCase& c) { return static_cast<int>((c.image.size() + kBlockBytes - 1) / kBlockBytes); }
// Commands the chip counts (silent-after, delay-from): Get, Get ID, the read
// of the flash size, the erase, one write per block and, verified, one read per block.
int stm32Frames(const SoakCase& c) { return 4 + stm32Blocks(c) * (c.verify ? 2 : 1); }

const sim::Stm32Model& modelOf(const SoakCase& c) { return *sim::findStm32Model(c.chip); }

void makeStm32Case(SoakCase& c, Rng& rng) {
    c.chipType = 0;
    c.verify = rng.chance(0.5);
    c.selector = c.chip;
    const size_t flash = modelOf(c).flashSize;
    c.image = makeImage(rng, imageSize(rng, static_cast<int>(std::min<size_t>(flash, 16 * 1024))));
    c.oldFlash = oldFirmware(rng, flash);
}

// The download's limits as the design states them (a command's answer 40
// ticks, the start byte's and a data block's 30), and the erase's allowance
// of 40 ms a page beyond its command limit.
const double kConnectSeconds = ticksToSeconds(30);
const double kCommandSeconds = ticksToSeconds(40);
const double kBlockSeconds = ticksToSeconds(30);
constexpr double kEraseSecondsPerPage = 0.04;

double stm32Bound(const SoakCase& c, const RunCost& cost) {
    const sim::Stm32Model& m = modelOf(c);
    const int pages = static_cast<int>(std::min<size_t>(static_cast<size_t>(c.image.size()) / m.pageSize + 1, m.flashSize / m.pageSize));
    const int blocks = stm32Blocks(c);
    // Get, Get ID, Read Memory (command, address, count); Erase and its page
    // list; per block Write Memory (command, address) and the data; verified,
    // per block Read Memory again.
    const double identify = 5 * kCommandSeconds;
    const double erase = 2 * kCommandSeconds + pages * kEraseSecondsPerPage;
    const double write = blocks * (2 * kCommandSeconds + kBlockSeconds);
    const double verify = c.verify ? blocks * 3 * kCommandSeconds : 0;
    return kConnectSeconds + identify + erase + write + verify + cost.pauseSeconds + cost.hostWireSeconds;
}

// The bootloader measures the host's rate from the start byte: the link's
// error is the chip clock's drift alone.
double stm32LinkError(const SoakCase&) { return 0.0; }

DownloadReport stm32Download(sim::VirtualHost& host, const SoakCase& c) {
    protocol::Stm32Options o;
    o.image = c.image;
    o.verify = c.verify;
    return protocol::DownloadStm32(host, o);
}

// Each byte has its parity bit on this line: a flipped bit is seen, so no
// frame gets past its checksum altered.
std::vector<std::pair<size_t, size_t>> noUnseenWireErrors(const SoakCase&, const sim::SimChip&) { return {}; }
std::string nothingMissing(const SoakCase&, const sim::SimChip&) { return {}; }

const std::vector<StageLine> kStm32Stages = {
    {"连接超时...", "no answer"},
    {"写数据失败，重试!", "write"},
    {"芯片拒绝了", "refused"},
    {"校验失败", "verify"},
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
    f.missingAfterSuccess = nothingMissing;
    return f;
}

} // namespace talvo::soak
