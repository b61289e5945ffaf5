// libFuzzer target for what the host makes of an STC chip's status frame:
// the frame scan in its status form (with or without 46 B9), the status
// fields, the crystal measured from the eight counts, the download rate and
// timer reload chosen for it, and the version line.  Whatever bytes arrive:
// frames are well-formed or not taken, and a rate is only chosen when the
// chip can make it -- a reload of 1 to 255 whose rate lies within the
// tolerance of the host's.
//
// Input: one byte of settings (bit 0: two-byte family, bit 1: handshake at
// 4800 baud), then the bytes received during the handshake.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "StcFuzzChecks.h"
#include "protocol/ChipTypes.h"
#include "protocol/StcClock.h"

using namespace talvo::protocol;
using talvo::fuzz::require;

namespace {

bool standardRate(uint32_t baud) {
    for (uint32_t r : kStandardRates)
        if (r == baud) return true;
    return false;
}

void checkRate(double mhz, int handshake, int family, bool sixClock) {
    const RateChoice c = ChooseDownloadBaud(mhz, handshake, family, sixClock);
    if (!c.ok) {
        require(!c.note.isEmpty());
        return;
    }
    require(c.reload >= 1 && c.reload <= 255);
    // A standard rate, or the table's own choice (its lowest row gives 1000).
    require(standardRate(c.baud) || (c.tableApplied && c.baud == c.tableBaud));
    if (handshake == 4800) require(c.baud == 4800);
    require(c.chipRate == StcChipRate(mhz, family, c.reload));
    require(std::fabs(c.chipRate / c.baud - 1.0) <= kRateTolerance);
    // The log line's reload is two digits.
    require(QString::asprintf("%02x", static_cast<unsigned>(c.reload)).size() == 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int family = (data[0] & 1) ? 2 : 1;
    const int handshake = (data[0] & 2) ? 4800 : 1200;
    const int form = family == 2 ? 2 : 1; // the checksum form of the family code
    const QByteArray received(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const StcScan scan = ScanStcFrames(received, form, true);
    talvo::fuzz::checkStcScan(received, scan, form, true);
    for (const StcChipFrame& frame : scan.frames) {
        const auto status = ReadStcStatus(frame);
        if (!status) {
            require(frame.payload.size() < 22);
            continue;
        }
        require(status->counts.size() == 8);
        require(VersionLine(status->version, status->stepping).startsWith(QStringLiteral("MCU Version:")));

        const double mhz = MeasureClock(status->counts, handshake, family);
        require(std::isfinite(mhz) && mhz >= 0);
        require(FrequencyText(mhz).size() >= 10);
        checkRate(mhz, handshake, family, status->sixClockMarker());
    }
    // Fewer than eight counts never make a crystal.
    if (size >= 2) require(MeasureClock(std::vector<uint16_t>(data[1] % 8, 1000), handshake, family) == 0.0);
    return 0;
}
