#include "protocol/StcClock.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace talvo::protocol {

namespace {

// Rows of the rate table: rate, lower and upper bound (0.8 and 1.2 times the
// rate as single precision computes them), next lower rate.
struct RateRow {
    uint32_t rate;
    double lo, hi;
    uint32_t lower;
};
constexpr RateRow kRateTable[] = {
    {1200, 960.0000143, 1440.0000572, 1000},
    {2400, 1920.0000286, 2880.0001144, 1200},
    {4800, 3840.0000572, 5760.0002289, 2400},
    {9600, 7680.0001144, 11520.0004578, 4800},
    {14400, 11520.0001717, 17280.0006866, 9600},
    {19200, 15360.0002289, 23040.0009155, 14400},
    {28800, 23040.0003433, 34560.0013733, 19200},
    {38400, 30720.0004578, 46080.0018311, 28800},
    {57600, 46080.0006866, 69120.0027466, 38400},
    {115200, 92160.0013733, 138240.0054932, 57600},
};

// 0.997851 in single precision.
constexpr double kTwoByteHighSpeedFactor = 0.9978510141372681;

// The timer's clock divider: f / (K * (256 - RR)).
double timerDivider(int familyCode) { return familyCode == 2 ? 16.0 : 32.0; }

// The reload the table's formulas give (truncated toward zero).
long tableReload(double mhz, int handshakeBaud, int familyCode, uint32_t baud) {
    const double y = 2.0 * mhz * 1000000.0;
    double v = 0;
    if (handshakeBaud == 4800) {
        v = familyCode == 2 ? 256.0 - 12.0 * y / (384.0 * 4800.0) : 256.0 - 6.0 * y / (384.0 * 4800.0);
    } else if (familyCode == 2) {
        v = 256.0 - 11.5 * (2.0 * kTwoByteHighSpeedFactor * mhz * 1000000.0) / (384.0 * baud);
    } else {
        v = 256.0 - 6.0 * y / (384.0 * baud);
    }
    return static_cast<long>(std::trunc(v));
}

bool fits(double mhz, int familyCode, long reload, uint32_t baud, double* chipRate) {
    if (reload < 1 || reload > 255 || baud == 0) return false;
    *chipRate = StcChipRate(mhz, familyCode, static_cast<int>(reload));
    return std::fabs(*chipRate / baud - 1.0) <= kRateTolerance;
}

// The nearest reload for `baud`.
long roundedReload(double mhz, int familyCode, uint32_t baud) {
    return 256 - std::lround(mhz * 1000000.0 / (timerDivider(familyCode) * baud));
}

QString describeRate(uint32_t baud, long reload, double chipRate) {
    return QCoreApplication::translate("StcClock", "%1 波特、重装值 %2（芯片实际 %3 波特，偏差 %4%）")
        .arg(baud)
        .arg(reload)
        .arg(chipRate, 0, 'f', 0)
        .arg((chipRate / baud - 1.0) * 100.0, 0, 'f', 1);
}

} // namespace

double MeasureClock(const std::vector<uint16_t>& counts, int handshakeBaud, int familyCode) {
    if (counts.size() != 8) return 0.0;
    const long total = std::accumulate(counts.begin(), counts.end(), 0L);
    const auto [lo, hi] = std::minmax_element(counts.begin(), counts.end());
    const double t = static_cast<double>(total - *lo - *hi);
    const double factor = familyCode == 2 ? kCrystalFactorFamily2 : kCrystalFactorFamily1;
    return (t / 6.0) * (12.0 * handshakeBaud) * factor / 1000000.0;
}

QString FrequencyText(double mhz) { return QString::asprintf("%10lf", mhz); }

double StcChipRate(double mhz, int familyCode, int reload) {
    const int steps = 256 - reload;
    if (steps <= 0) return 0.0;
    return mhz * 1000000.0 / (timerDivider(familyCode) * steps);
}

TableChoice ChooseFromRateTable(double estimate) {
    TableChoice c;
    for (const RateRow& row : kRateTable) {
        if (estimate >= row.rate) {
            if (estimate < row.hi) {
                c.baud = row.lower;
                c.applied = true;
            }
        } else if (estimate > row.lo) {
            c.baud = row.rate;
            c.applied = true;
        }
    }
    return c;
}

RateChoice ChooseDownloadBaud(double mhz, int handshakeBaud, int familyCode, bool sixClockMarker) {
    RateChoice c;
    const double y = 2.0 * mhz * 1000000.0;
    const double estimate = std::trunc(y / (sixClockMarker ? 768.0 : 384.0));
    auto take = [&](uint32_t baud, long reload, double rate) {
        c.ok = true;
        c.baud = baud;
        c.reload = static_cast<int>(reload);
        c.chipRate = rate;
        c.mended = baud != c.tableBaud || reload != c.tableReload;
    };
    // The nearest reload for each standard rate from `from` down; the first that works.
    auto firstStandard = [&](auto admit) {
        for (uint32_t rate : kStandardRates) {
            if (!admit(rate)) continue;
            const long rr = roundedReload(mhz, familyCode, rate);
            double made = 0;
            if (fits(mhz, familyCode, rr, rate, &made)) {
                take(rate, rr, made);
                return true;
            }
        }
        return false;
    };

    if (handshakeBaud == 4800) {
        c.tableBaud = 4800;
        c.tableApplied = true;
        c.tableReload = tableReload(mhz, handshakeBaud, familyCode, 4800);
        double made = 0;
        if (fits(mhz, familyCode, c.tableReload, 4800, &made)) {
            take(4800, c.tableReload, made);
            return c;
        }
        const long rr = roundedReload(mhz, familyCode, 4800);
        if (fits(mhz, familyCode, rr, 4800, &made)) {
            take(4800, rr, made);
            c.note = QCoreApplication::translate("StcClock", "表中的重装值 %1 偏离 4800 波特，改用 %2")
                         .arg(c.tableReload)
                         .arg(rr);
            return c;
        }
        c.note = QCoreApplication::translate("StcClock", "%1 MHz 晶振做不到 4800 波特（重装值 %2）")
                     .arg(mhz, 0, 'f', 3)
                     .arg(rr);
        return c;
    }

    const TableChoice table = ChooseFromRateTable(estimate);
    c.tableApplied = table.applied;
    c.tableBaud = table.baud;
    c.tableReload = tableReload(mhz, handshakeBaud, familyCode, table.baud);
    if (!table.applied) {
        if (firstStandard([&](uint32_t rate) { return rate <= estimate; })) {
            c.note = QCoreApplication::translate("StcClock", "估算值 %1 不在波特率表内，取芯片能做到的最快标准波特率")
                         .arg(static_cast<long>(estimate));
            return c;
        }
        c.note = QCoreApplication::translate("StcClock", "%2 MHz 晶振做不到 %1 波特以下的任何标准波特率")
                     .arg(static_cast<long>(estimate))
                     .arg(mhz, 0, 'f', 3);
        return c;
    }
    double made = 0;
    if (fits(mhz, familyCode, c.tableReload, c.tableBaud, &made)) {
        take(c.tableBaud, c.tableReload, made);
        return c;
    }
    const double tableMade = StcChipRate(mhz, familyCode, static_cast<int>(std::clamp(c.tableReload, -1L, 255L)));
    const QString why = c.tableReload < 1 || c.tableReload > 255
                            ? QCoreApplication::translate("StcClock", "表中 %2 波特的重装值 %1 超出范围")
                                  .arg(c.tableReload)
                                  .arg(c.tableBaud)
                            : QCoreApplication::translate("StcClock", "表中的 %1")
                                  .arg(describeRate(c.tableBaud, c.tableReload, tableMade));
    const long rr = roundedReload(mhz, familyCode, c.tableBaud);
    if (fits(mhz, familyCode, rr, c.tableBaud, &made)) {
        take(c.tableBaud, rr, made);
        c.note = why;
        return c;
    }
    if (firstStandard([&](uint32_t rate) { return rate < c.tableBaud; })) {
        c.note = why;
        return c;
    }
    c.note = QCoreApplication::translate("StcClock", "%1；更低的标准波特率也做不到").arg(why);
    return c;
}

QString VersionLine(uint8_t version, uint8_t stepping) {
    QString line = QStringLiteral("MCU Version:") + QString::number(version >> 4, 16) + QLatin1Char('.') +
                   QString::number(version & 0xF, 16);
    if (stepping != 0) line += QChar(static_cast<char16_t>(stepping));
    return line;
}

} // namespace talvo::protocol
