#pragma once
// The STC chip's clock as the host measures it from the status frame, and the
// download rate and timer reload chosen from it.
//
// The chip counts its machine cycles over each of the host's 7F sync
// characters.  The host drops the smallest and the largest of the eight
// counts, averages the rest and scales them by a factor per family into the
// crystal frequency.  From that it picks the rate of the download and the
// reload byte RR the chip puts into its baud-rate timer:
//   one-byte family (STC89/90): chip rate = f / (32 * (256 - RR)), with f as
//     measured (a 6-clock chip counts twice as fast, and its timer runs twice
//     as fast, so the measured f serves both);
//   two-byte family (STC10/11/12): chip rate = f / (16 * (256 - RR)).
// A UART receives while the two ends differ by less than about 4.5 %; the
// host only takes a rate the chip can make within 3 %.

#include <QString>

#include <cstdint>
#include <vector>

namespace talvo::protocol {

inline constexpr double kCrystalFactorFamily1 = 0.14280099999;
inline constexpr double kCrystalFactorFamily2 = 0.14331889999;
// How far the chip's rate may lie from the host's.
inline constexpr double kRateTolerance = 0.03;
// Standard rates, fastest first.
inline constexpr uint32_t kStandardRates[] = {115200, 57600, 38400, 28800, 19200, 14400, 9600, 4800, 2400, 1200};

// The crystal frequency in MHz from the eight counts (smallest and largest
// dropped once each); 0 when there are not eight counts.
double MeasureClock(const std::vector<uint16_t>& counts, int handshakeBaud, int familyCode);
// The frequency text of the log line: "%10lf".
QString FrequencyText(double mhz);

// The rate the chip makes from reload byte `rr` at the measured frequency.
double StcChipRate(double mhz, int familyCode, int reload);

struct RateChoice {
    bool ok = false;            // false: no rate works ("当前不支持这种晶振")
    uint32_t baud = 0;          // DownloadBaud
    int reload = 0;             // RR, 1..255 when ok
    double chipRate = 0;        // what the chip makes of RR
    // The rate and reload the table of rates and its reload formula give,
    // before checking them against the chip's timer (reload may be out of
    // range there, even negative).
    uint32_t tableBaud = 0;
    long tableReload = 0;
    bool tableApplied = false;  // some row of the table matched the estimate
    bool mended = false;        // the table's choice was replaced
    QString note;               // why the choice differs from the table's, or why none works
};

// The table of rates with its bounds, the download's first choice: the
// estimate d = 2 f / 384 (2 f / 768 with the 6-clock marker) against rows of
// rate R, bounds 0.8 R and 1.2 R (single precision), next lower rate P.
struct TableChoice {
    uint32_t baud = 2400;
    bool applied = false;
};
TableChoice ChooseFromRateTable(double estimate);

// ChooseDownloadBaud: the download rate and reload for a measured crystal.
// Keeps the table's rate and reload where the chip makes that rate within
// 3 %; else the nearest reload for that rate; else the next lower standard
// rate that works; where no row of the table applies, the fastest standard
// rate not above the estimate that works.  In low-speed mode (handshake at
// 4800) the rate is 4800 or nothing.
RateChoice ChooseDownloadBaud(double mhz, int handshakeBaud, int familyCode, bool sixClockMarker);

// The version line: "MCU Version:" + major + "." + minor + stepping letter,
// from the status frame's version and stepping bytes (44 43 -> "MCU Version:4.4C").
QString VersionLine(uint8_t version, uint8_t stepping);

} // namespace talvo::protocol
