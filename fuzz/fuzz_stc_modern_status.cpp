// libFuzzer target for what the host makes of an STC15A, STC15 or STC8
// status frame: the frame scan in its two-byte-checksum form, the family the
// model code names, the fields of each layout and the frequency the chip runs
// at now.  Whatever bytes arrive: a status is only read from a payload long
// enough for its layout, and the clock derived from it is a finite frequency
// of the source it names.
//
// Input: one byte of settings (bits 0-2: the family read as, bits 3-4: the
// handshake rate), then the status payload.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "StcFuzzChecks.h"
#include "StcModernFuzz.h"

using namespace talvo::protocol;
using talvo::fuzz::require;

namespace {

int layoutBytes(StcModernFamily family) {
    switch (family) {
    case StcModernFamily::Stc15a: return kStc15aStatusBytes;
    case StcModernFamily::Stc15: return kStc15StatusBytes;
    default: return kStc8StatusBytes;
    }
}

void checkStatus(const QByteArray& payload, StcModernFamily family, int handshake) {
    QString why;
    const auto status = ReadStcModernStatus(payload, family, &why);
    if (!status) {
        require(!why.isEmpty());
        return;
    }
    require(payload.size() >= layoutBytes(family));
    require(static_cast<uint8_t>(payload[0]) == 0x50);
    require(status->family == family);
    require(status->modelCode == ((static_cast<uint8_t>(payload[20]) << 8) | static_cast<uint8_t>(payload[21])));
    require(!status->versionText.isEmpty());
    require(!status->counts.empty());
    require(status->divider >= 0);

    const StcCurrentClock now = CurrentStcClock(*status, handshake);
    require(std::isfinite(now.hz) && now.hz >= 0);
    require(std::isfinite(now.bootClockHz) && now.bootClockHz >= 0);
    switch (now.source) {
    case StcCurrentClock::Source::Untrimmed: require(now.hz == 0 && !status->storedHz); break;
    case StcCurrentClock::Source::Stored: require(status->storedHz.has_value()); break;
    case StcCurrentClock::Source::Counts: require(family == StcModernFamily::Stc15a); break;
    case StcCurrentClock::Source::External: require(family == StcModernFamily::Stc15 && !status->internalRc); break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const StcModernFamily family = talvo::fuzz::modernFamily(data[0] & 7);
    const int handshake = talvo::fuzz::kModernHandshakes[(data[0] >> 3) & 3];
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    checkStatus(payload, family, handshake);
    // The family the payload itself names, and the payload read as that one.
    QString why;
    if (const auto named = StcModernFamilyOfStatus(payload, &why))
        checkStatus(payload, *named, handshake);
    else
        require(!why.isEmpty());

    // The same payload as the chip frames it (a frame carries its type byte at least).
    if (!payload.isEmpty() && payload.size() <= kStcMaxChipFrame - 6) {
        const QByteArray frame = talvo::fuzz::chipFrame(payload, 2);
        const StcScan scan = ScanStcFrames(frame, 2, true);
        talvo::fuzz::checkStcScan(frame, scan, 2, true);
        require(scan.frames.size() == 1 && scan.frames[0].payload == payload);
    }
    return 0;
}
