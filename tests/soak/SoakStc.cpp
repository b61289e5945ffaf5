// The STC rows of the soak: the one-byte-checksum family (STC89, STC90) and
// the two-byte-checksum family (STC11, STC12), downloaded with CMcuType.
#include <algorithm>
#include <cmath>

#include "protocol/CMcuType.h"
#include "sim/StcChip.h"
#include "sim/VirtualHost.h"
#include "soak/SoakFamilies.h"

namespace talvo::soak {

using protocol::DownloadReport;
using sim::Rng;

namespace {

// The frames a download exchanges, roughly (where a chip may fall silent),
// and its data blocks with the zero block.
int stcFrames(const SoakCase& c) { return 12 + static_cast<int>(c.image.size()) / 128 + 1; }
const protocol::StcFamily& familyOf(const SoakCase& c) { return *protocol::ChipTypeAt(c.chipType).stc(); }
int stcBlocks(const SoakCase& c) {
    return static_cast<int>(protocol::StcBlocks(c.image, familyOf(c).blockSize).size());
}

struct StcChipRow {
    const char* chip;
    int chipType;
};
// The simulators of each family and the chip type a user would select.
constexpr StcChipRow kStcChips[] = {
    {"stc89c52rc", 1}, {"stc90c516", 4}, {"stc12c5a60s2", 3}, {"stc11f60", 2}};

int stcChipType(const std::string& chip) {
    for (const auto& r : kStcChips)
        if (chip == r.chip) return r.chipType;
    return 0;
}

// Crystals boards carry, and now and then any other.
constexpr double kCrystals[] = {6, 11.0592, 12, 16, 18.432, 20, 22.1184, 24, 27, 30, 33, 35};

void makeStcCase(SoakCase& c, Rng& rng) {
    c.chipType = stcChipType(c.chip);
    c.lowSpeed = rng.chance(0.25);
    const double freq = rng.chance(0.6) ? kCrystals[rng.range(0, std::size(kCrystals) - 1)]
                                        : std::round((4.0 + 32.0 * rng.uniform()) * 1e4) / 1e4;
    c.selector = c.chip + ",freq=" + number(freq, 8);
    if (c.chip == "stc89c52rc" && rng.chance(0.3)) c.selector += ",clock=6";
    const size_t flash = sim::findStcModel(c.chip)->flashSize;
    // The image fits the flash (up to its last byte on the 8 KB STC89C52RC,
    // where the closing zero block stays away); larger images only slow the
    // soak down.
    c.image = makeImage(rng, imageSize(rng, static_cast<int>(std::min<size_t>(flash, 8 * 1024))));
    c.oldFlash = oldFirmware(rng, flash);
}

// The download's tick limits, in seconds.
const double kStcConnectSeconds = ticksToSeconds(30); // the status frame (the RTS ticks count within)
const double kStcAnswerSeconds = ticksToSeconds(60);  // any awaited answer
const double kStcBlockSeconds = ticksToSeconds(30);   // a block with its resends at 9, 18 and 27 ticks

double stcBound(const SoakCase& c, const RunCost& cost) {
    const int blocks = stcBlocks(c);
    // Awaited answers: both switch steps, the control information five
    // times and the erase (one-byte variant); the 50 frame, both switch steps
    // and the erase (two-byte variant); then the closing frames.
    int answers = familyOf(c).switchVariant == protocol::StcSwitchVariant::OneByte ? 2 + 5 + 1 : 4;
    for (const protocol::StcClosingFrame& f : familyOf(c).closing) answers += f.awaited ? 1 : 0;
    return kStcConnectSeconds + answers * kStcAnswerSeconds + blocks * kStcBlockSeconds + cost.pauseSeconds +
           cost.hostWireSeconds;
}

protocol::StcOptions stcOptions(const SoakCase& c) {
    protocol::StcOptions o;
    o.chipType = c.chipType;
    o.lowSpeed = c.lowSpeed;
    o.image = c.image;
    return o;
}

// The link's rate error at the download rate the protocol picks for this
// case, before any drift: a clean download on a twin chip, whose status
// frame carries the same counts.
double stcLinkError(const SoakCase& c) {
    auto chip = buildChip(c.selector + ",seed=" + std::to_string(c.seed));
    sim::VirtualHost host(*chip);
    protocol::CMcuType mcu(host, stcOptions(c));
    const DownloadReport report = mcu.RunStcDownload();
    if (report.baud == 0) return 0;
    // The reload byte went to the chip right after the 8F frame's first data byte.
    const auto switchFrame = std::find_if(chip->frames().begin(), chip->frames().end(), [](const sim::FrameRecord& f) {
        return f.bytes.size() > 7 && f.bytes[5] == 0x8F;
    });
    if (switchFrame == chip->frames().end()) return 0;
    const auto* stc = static_cast<const sim::StcChip*>(chip.get());
    return stc->rateForReload(switchFrame->bytes[7]) / report.baud - 1.0;
}

const std::vector<StageLine> kStcStages = {
    {"连接超时...", "connect"},     {"调整波特率一超时", "switch 1"}, {"调整波特率二超时", "switch 2"},
    {"写芯片超时!", "control"},     {"擦除失败", "erase"},             {"写数据失败，重试!", "write"},
    {"写数据超时", "closing"},       {"无法为此晶振选择下载波特率", "crystal"}, {"当前不支持这种晶振", "crystal"},
};

const std::vector<FaultKind> kStcKinds = {
    FaultKind::None,        FaultKind::Drop,      FaultKind::Corrupt, FaultKind::Delay,
    FaultKind::SilentAfter, FaultKind::NackBlock, FaultKind::BadAck,  FaultKind::TruncateStatus,
    FaultKind::HangUp,      FaultKind::RateInside, FaultKind::RateOutside, FaultKind::SplitReads,
    FaultKind::Mixed,       FaultKind::LostCopy};


std::vector<std::pair<size_t, size_t>> stcUnseenWireErrors(const SoakCase& c, const sim::SimChip& chip) {
    const protocol::StcFamily& family = familyOf(c);
    std::vector<sim::Bytes> sent;
    uint16_t address = 0;
    for (const QByteArray& block : protocol::StcBlocks(c.image, family.blockSize)) {
        const QByteArray f = protocol::BuildWriteFrame(address, block, family.checksumForm);
        sent.emplace_back(f.begin(), f.end());
        address = static_cast<uint16_t>(address + family.blockSize);
    }
    auto blockAt = [](const sim::Bytes& f) {
        const size_t a = (static_cast<size_t>(f[8]) << 8) | f[9];
        return std::make_pair(a, a + 128);
    };
    std::vector<std::pair<size_t, size_t>> ranges;
    for (const sim::FrameRecord& f : chip.frames()) {
        if (!f.accepted || f.bytes.size() < 12 + 128 || f.bytes[5] != 0x00) continue;
        if (std::find(sent.begin(), sent.end(), f.bytes) != sent.end()) continue;
        // Where it went, and where the frame it was meant to be should have gone.
        ranges.push_back(blockAt(f.bytes));
        auto distance = [&](const sim::Bytes& s) {
            size_t d = 0;
            for (size_t i = 0; i < std::min(s.size(), f.bytes.size()); ++i) d += s[i] != f.bytes[i];
            return d + (s.size() > f.bytes.size() ? s.size() - f.bytes.size() : f.bytes.size() - s.size());
        };
        const auto meant = std::min_element(sent.begin(), sent.end(), [&](const sim::Bytes& a, const sim::Bytes& b) {
            return distance(a) < distance(b);
        });
        if (meant != sent.end()) ranges.push_back(blockAt(*meant));
    }
    return ranges;
}

// The closing frames a success waited for must have reached the chip and
// been answered; an answer to anything else does not close the session.
std::string stcMissingAfterSuccess(const SoakCase& c, const sim::SimChip& chip) {
    auto answered = [&](uint8_t command) {
        return std::any_of(chip.frames().begin(), chip.frames().end(), [&](const sim::FrameRecord& f) {
            return f.accepted && f.bytes.size() > 5 && f.bytes[5] == command && f.note.rfind("no answer", 0) != 0;
        });
    };
    for (const protocol::StcClosingFrame& f : familyOf(c).closing)
        if (f.awaited && !answered(f.command))
            return "the chip never answered the " + QStringLiteral("%1").arg(f.command, 2, 16, QLatin1Char('0')).toUpper().toStdString() + " frame";
    return {};
}

DownloadReport stcDownload(sim::VirtualHost& host, const SoakCase& c) {
    protocol::CMcuType mcu(host, stcOptions(c));
    return mcu.RunStcDownload();
}

} // namespace

Family StcFamily(StcFamilyKind kind) {
    Family f;
    if (kind == StcFamilyKind::OneByte) {
        f.key = "stc-one-byte";
        f.title = "STC one-byte checksum (STC89C52RC, STC90C516RD+)";
        f.chips = {"stc89c52rc", "stc90c516"};
    } else {
        f.key = "stc-two-byte";
        f.title = "STC two-byte checksum (STC12C5A60S2, STC11F60XE)";
        f.chips = {"stc12c5a60s2", "stc11f60"};
    }
    f.kinds = kStcKinds;
    f.stages = kStcStages;
    f.makeCase = makeStcCase;
    f.frames = stcFrames;
    f.blocks = stcBlocks;
    f.bound = stcBound;
    f.linkError = stcLinkError;
    f.download = stcDownload;
    f.unseenWireErrors = stcUnseenWireErrors;
    f.missingAfterSuccess = stcMissingAfterSuccess;
    return f;
}

} // namespace talvo::soak
