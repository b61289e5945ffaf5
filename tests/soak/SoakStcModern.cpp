// The STC rows of the soak for the bootloaders with an RC oscillator the host
// trims: STC15A, STC15 (IAP15, STC15W4, STC15L without a UART) and STC8
// (STC8A, STC8G), downloaded with CMcuType as `--freq` and `--baud` ask.
#include <algorithm>
#include <cmath>
#include <regex>

#include "protocol/CMcuType.h"
#include "protocol/StcModernStatus.h"
#include "protocol/StcTransferRate.h"
#include "protocol/StcTrim.h"
#include "sim/StcModernChip.h"
#include "sim/VirtualHost.h"
#include "soak/SoakFamilies.h"

namespace talvo::soak {

using protocol::DownloadReport;
using sim::Rng;

namespace {

const sim::StcModernModel& modelOf(const SoakCase& c) { return *sim::findStcModernModel(c.chip); }
bool isStc15a(const SoakCase& c) { return modelOf(c).protocol == sim::ModernProtocol::Stc15a; }
bool isStc15(const SoakCase& c) { return modelOf(c).protocol == sim::ModernProtocol::Stc15; }

size_t codeFlashOf(const std::string& chip) {
    auto built = buildChip(chip);
    return static_cast<const sim::StcModernChip*>(built.get())->codeFlashBytes();
}

// The block the download writes: 128 bytes on STC15 parts of 8 KB and more, else 64.
int blockSize(const SoakCase& c) { return isStc15(c) && codeFlashOf(c.chip) >= 8192 ? 128 : 64; }
int modernBlocks(const SoakCase& c) { return std::max(1, static_cast<int>(c.image.size() + blockSize(c) - 1) / blockSize(c)); }
// Status, handshake, calibration rounds, switch, prepare, erase, finish,
// options, closing frame, and the blocks.
int modernFrames(const SoakCase& c) { return 10 + modernBlocks(c); }

// The user frequencies the RC oscillator of each family reaches on every
// simulated chip of it (MHz), with a margin at both ends for an RC up to
// 2 % off and a clock drifted to the edge of the UART's tolerance.
struct FreqRange {
    double lo, hi;
};
FreqRange freqRange(const SoakCase& c) {
    if (isStc15a(c)) return {5.0, 30.0};
    if (isStc15(c)) return {4.3, 31.0};
    return {4.5, 29.0};
}

// Frequencies boards are programmed for.
constexpr double kCommonMHz[] = {5.5296, 6, 11.0592, 12, 18.432, 20, 22.1184, 24, 27, 30, 33.1776};

// Does the chip's timer make `baud` well within the 3 % the download takes?
// (STC15 programs on a clock trimmed near 22.1184 MHz: a margin keeps the
// measured clock from tipping a rate over.)
bool chipMakes(const SoakCase& c, uint32_t baud) {
    const sim::StcModernModel& m = modelOf(c);
    protocol::StcRateChoice r;
    if (isStc15a(c))
        r = protocol::Stc15aTransferRate(baud, !c.lowSpeed);
    else if (isStc15(c))
        r = protocol::Stc15TransferRate(baud, protocol::kStcHighSpeedHz, protocol::Stc15HasUart(m.code));
    else
        r = protocol::Stc8TransferRate(baud, protocol::kStc8ProgramHz);
    return r.ok && std::abs(r.chipRate / baud - 1.0) < 0.015;
}

struct ModernRow {
    StcModernKind kind;
    const char* key;
    const char* title;
    std::vector<std::string> chips;
};
const ModernRow kRows[] = {
    {StcModernKind::Stc15a, "stc15a", "STC15A (STC15F104E)", {"stc15f104e"}},
    {StcModernKind::Stc15, "stc15", "STC15 (IAP15F2K61S2, STC15W4K56S4, STC15L104W)",
     {"iap15f2k61s2", "stc15w4k56s4", "stc15l104w"}},
    {StcModernKind::Stc8, "stc8", "STC8 (STC8A8K64S4A12, STC8G1K08)", {"stc8a8k64s4a12", "stc8g1k08"}},
};

void makeModernCase(SoakCase& c, Rng& rng) {
    // The chip types "STC15系列" and "STC8系列".
    c.chipType = isStc15a(c) || isStc15(c) ? 5 : 6;
    c.lowSpeed = rng.chance(0.25);
    // The chip's state: trimmed to some frequency (now and then never
    // trimmed), its RC a little off the captured chip's.
    const FreqRange range = freqRange(c);
    auto someMHz = [&] {
        return rng.chance(0.6) ? kCommonMHz[rng.range(0, std::size(kCommonMHz) - 1)]
                               : std::round((range.lo + (range.hi - range.lo) * rng.uniform()) * 1e4) / 1e4;
    };
    c.selector = c.chip;
    if (!isStc15a(c) && rng.chance(0.15))
        c.selector += ",untrimmed";
    else if (rng.chance(0.7))
        c.selector += ",freq=" + number(std::clamp(someMHz(), range.lo, range.hi), 8);
    if (rng.chance(0.3)) c.selector += ",rc=" + number(std::round((4.0 * rng.uniform() - 2.0) * 100) / 100);
    // `--freq`: now and then the chip's own; always for a chip never trimmed
    // (some are delivered so), which the download asks for one.
    if (rng.chance(0.6) || c.selector.find("freq=") == std::string::npos)
        c.userHz = std::clamp(someMHz(), range.lo, range.hi) * 1e6;
    // `--baud`: a rate the chip's timer makes, or the speed mode's.
    if (rng.chance(0.5)) {
        std::vector<uint32_t> made;
        for (uint32_t b : protocol::kStcOfferedRates)
            if (b >= 2400 && chipMakes(c, b)) made.push_back(b);
        if (!made.empty()) c.transferBaud = made[static_cast<size_t>(rng.range(0, static_cast<int>(made.size()) - 1))];
    }
    const size_t flash = codeFlashOf(c.chip);
    c.image = makeImage(rng, imageSize(rng, static_cast<int>(std::min<size_t>(flash, 8 * 1024))));
    c.oldFlash = oldFirmware(rng, flash);
}

// The download's tick limits, in seconds.
const double kConnectSeconds = ticksToSeconds(30);
const double kAnswerSeconds = ticksToSeconds(protocol::kStcModernReplyTicks);
const double kCalibrationSeconds = ticksToSeconds(protocol::kStcCalibrationTicks);
const double kEraseSeconds = ticksToSeconds(protocol::kStcEraseTicks);
const double kBlockSeconds = ticksToSeconds(protocol::kStcModernBlockTicks);

double modernBound(const SoakCase& c, const RunCost& cost) {
    // Calibration rounds: STC15A two, STC15 up to three, STC8 up to three.
    const int rounds = isStc15a(c) ? 2 : 3;
    // Awaited answers: handshake (STC15A), switch, prepare, finish, options.
    const int answers = 5;
    return kConnectSeconds + rounds * kCalibrationSeconds + answers * kAnswerSeconds + kEraseSeconds +
           modernBlocks(c) * kBlockSeconds + cost.pauseSeconds + cost.hostWireSeconds;
}

protocol::StcOptions modernOptions(const SoakCase& c) {
    protocol::StcOptions o;
    o.chipType = c.chipType;
    o.lowSpeed = c.lowSpeed;
    o.image = c.image;
    o.userHz = c.userHz;
    o.transferBaud = c.transferBaud;
    return o;
}

DownloadReport modernDownload(sim::VirtualHost& host, const SoakCase& c) {
    protocol::CMcuType mcu(host, modernOptions(c));
    return mcu.RunStcDownload();
}

bool isSwitchFrame(const SoakCase& c, const sim::FrameRecord& f) {
    return f.accepted && f.bytes.size() > 6 && f.bytes[5] == (isStc15a(c) ? 0x8E : 0x01);
}

// The link's rate error at the transfer rate, before any drift: what the
// chip's timer made of the reload on a clean twin.
double modernLinkError(const SoakCase& c) {
    auto chip = buildChip(c.selector + ",seed=" + std::to_string(c.seed));
    sim::VirtualHost host(*chip);
    const DownloadReport report = modernDownload(host, c);
    if (report.baud == 0) return 0;
    static const std::regex kMade(R"(([0-9]+) baud)");
    for (const sim::FrameRecord& f : chip->frames()) {
        std::smatch m;
        if (isSwitchFrame(c, f) && std::regex_search(f.note, m, kMade)) return std::stod(m[1]) / report.baud - 1.0;
    }
    return 0;
}

const std::vector<StageLine> kModernStages = {
    {"连接超时...", "connect"},
    {"收到 ", "connect"},
    {"无法读取芯片的状态帧", "status"},
    {"芯片的内部RC振荡器从未校准，不知道", "frequency"},
    {"校准频率失败", "calibration"},
    {"芯片无法以 ", "rate"},
    {"调整波特率一超时", "switch"},
    {"芯片没有回答准备命令", "prepare"},
    {"擦除失败", "erase"},
    {"写数据失败，重试!", "write"},
    {"写数据超时", "closing"},
};

// No resend on these bootloaders: a block lost once ends the download, so
// the lost-copy kind does not apply.
const std::vector<FaultKind> kModernKinds = {
    FaultKind::None,        FaultKind::Drop,       FaultKind::Corrupt,     FaultKind::Delay,
    FaultKind::SilentAfter, FaultKind::NackBlock,  FaultKind::BadAck,      FaultKind::TruncateStatus,
    FaultKind::HangUp,      FaultKind::RateInside, FaultKind::RateOutside, FaultKind::SplitReads,
    FaultKind::Mixed};

// Write frames the chip took whose data is not the image's there: altered
// on the wire past their 16-bit sum.  Payload: STC15A 00 00 00 AH AL SH SL
// data; STC15/STC8 22|02 AH AL [5A A5] data.  The frame ends in the sum and 16.
std::vector<std::pair<size_t, size_t>> modernUnseenWireErrors(const SoakCase& c, const sim::SimChip& chip) {
    const size_t size = static_cast<size_t>(blockSize(c));
    std::vector<std::pair<size_t, size_t>> ranges;
    for (const sim::FrameRecord& f : chip.frames()) {
        if (!f.accepted || f.bytes.size() < 5 + 3 + size + 3) continue;
        const uint8_t cmd = f.bytes[5];
        if (isStc15a(c) ? cmd != 0x00 : cmd != 0x22 && cmd != 0x02) continue;
        const size_t at = isStc15a(c) ? 8 : 6;
        const size_t address = (static_cast<size_t>(f.bytes[at]) << 8) | f.bytes[at + 1];
        const auto data = f.bytes.end() - 3 - static_cast<std::ptrdiff_t>(size);
        QByteArray meant = c.image.mid(static_cast<qsizetype>(address), static_cast<qsizetype>(size));
        meant.append(QByteArray(static_cast<qsizetype>(size) - meant.size(), '\0'));
        if (!std::equal(data, data + static_cast<std::ptrdiff_t>(size), meant.begin(),
                        [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }))
            ranges.emplace_back(address, address + size);
    }
    return ranges;
}

// The option block a success waited for must have reached the chip and
// been answered.
std::string modernMissingAfterSuccess(const SoakCase& c, const sim::SimChip& chip) {
    const uint8_t options = isStc15a(c) ? 0x8D : 0x04;
    const bool answered = std::any_of(chip.frames().begin(), chip.frames().end(), [&](const sim::FrameRecord& f) {
        return f.accepted && f.bytes.size() > 5 && f.bytes[5] == options && f.note.rfind("no answer", 0) != 0;
    });
    return answered ? std::string() : "the chip never answered the option block";
}

} // namespace

Family StcModernFamily(StcModernKind kind) {
    const ModernRow& row = *std::find_if(std::begin(kRows), std::end(kRows), [&](const ModernRow& r) { return r.kind == kind; });
    Family f;
    f.key = row.key;
    f.title = row.title;
    f.chips = row.chips;
    f.kinds = kModernKinds;
    f.stages = kModernStages;
    f.makeCase = makeModernCase;
    f.frames = modernFrames;
    f.blocks = modernBlocks;
    f.bound = modernBound;
    f.linkError = modernLinkError;
    f.download = modernDownload;
    f.unseenWireErrors = modernUnseenWireErrors;
    f.missingAfterSuccess = modernMissingAfterSuccess;
    return f;
}

} // namespace talvo::soak
