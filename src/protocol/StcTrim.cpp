// RC trim arithmetic of the STC15A, STC15 and STC8 bootloaders (see the header).
#include "protocol/StcTrim.h"

#include <algorithm>
#include <cmath>

#include <QStringList>

namespace talvo::protocol {

namespace {

QString mhz(double hz) { return QString::number(hz / 1e6, 'f', 4); }
QString hex2(unsigned v) { return QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')).toUpper(); }
QString hex4(unsigned v) { return QStringLiteral("%1").arg(v & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper(); }

bool fail(QString* why, const QString& text) {
    if (why) *why = text;
    return false;
}

// Linear interpolation of a trim value between (ta, ca) and (tb, cb) to count n.
std::optional<long> interpolate(long ta, long tb, double ca, double cb, double n) {
    if (ca == cb) return std::nullopt;
    return std::lround(static_cast<double>(ta) + (n - ca) * static_cast<double>(tb - ta) / (cb - ca));
}

// The STC15A first-round rows: user frequency below `upToMHz` -> four challenges.
struct Stc15aRow {
    double upToMHz;
    uint16_t challenges[4];
};
constexpr double kStc15aLowestMHz = 4.0;
constexpr Stc15aRow kStc15aRows[] = {
    {7.5, {0x1800, 0x1880, 0x1880, 0x18FF}}, {10.0, {0x1880, 0x18FF, 0x5800, 0x5880}},
    {15.0, {0x5800, 0x5880, 0x5880, 0x58FF}}, {21.0, {0x5880, 0x58FF, 0x9800, 0x9880}},
    {31.0, {0x9800, 0x9880, 0x9880, 0x98FF}}, {40.0, {0xD800, 0xD880, 0xD880, 0xD8B4}},
};
// Challenges 5-6 around the programming clock.
constexpr uint16_t kStc15aHighSpeedPair[2] = {0x9800, 0x9880};
constexpr uint16_t kStc15aNormalPair[2] = {0x5800, 0x5880};
// The second round's first trial lies this far below the interpolated trim.
constexpr int kStc15aSecondRoundLead = 5;
constexpr int kStc15aSecondRoundSize = 11;

constexpr uint8_t kStc15Bands[] = {0xC0, 0x80, 0x40, 0x00};
constexpr int kStc15WindowBelow = 3; // T-3 .. T+2
constexpr int kStc15WindowSize = 6;

constexpr uint8_t kStc8WideT[] = {0x00, 0x17, 0x2E, 0x45, 0x5C, 0x73, 0x8A, 0xA1, 0xB8, 0xCF, 0xE6, 0xFF};
constexpr uint8_t kStc8dBands[] = {0x00, 0x10, 0x20, 0x30};
constexpr uint8_t kStc8gBands[] = {0x00, 0x80};
constexpr int kStc8FineSteps = 4;
// The newer variant's estimate must leave room for the second round's window.
constexpr long kStc8dLowestT = 6, kStc8dHighestT = 250;
constexpr int kStc8dWindowBelow = 6; // T-6 .. T+5

// `v` moved so that v-below .. v-below+size-1 lies within 0..255.
int windowStart(int v, int below, int size) { return std::clamp(v - below, 0, 256 - size); }

} // namespace

double StcTrimCount(StcModernFamily family, double hz, int baud, int divider) {
    if (baud <= 0) return 0;
    switch (family) {
    case StcModernFamily::Stc15a: return 7.0 * hz / (12.0 * baud);
    case StcModernFamily::Stc15:
    case StcModernFamily::Stc8: return 2.0 * divider * hz / baud;
    case StcModernFamily::Stc8d:
    case StcModernFamily::Stc8g: return divider * hz / baud;
    }
    return 0;
}

double StcTrimFrequency(StcModernFamily family, double count, int baud, int divider) {
    const double unit = StcTrimCount(family, 1.0, baud, divider);
    return unit > 0 ? count / unit : 0;
}

int NearestCount(const std::vector<uint16_t>& counts, double target, int from, int n) {
    const int end = n < 0 ? static_cast<int>(counts.size()) : std::min<int>(from + n, static_cast<int>(counts.size()));
    int best = -1;
    for (int i = std::max(from, 0); i < end; ++i)
        if (best < 0 || std::fabs(counts[i] - target) < std::fabs(counts[best] - target)) best = i;
    return best;
}

// ---- STC15A -------------------------------------------------------------------------

std::optional<std::vector<StcTrim>> Stc15aFirstRound(double userHz, bool highSpeed, QString* why) {
    const double f = userHz / 1e6;
    if (f < kStc15aLowestMHz || f > kStc15aRows[std::size(kStc15aRows) - 1].upToMHz) {
        fail(why, QStringLiteral("%1 MHz is outside the RC oscillator's 4 to 40 MHz").arg(mhz(userHz)));
        return std::nullopt;
    }
    const Stc15aRow* row = &kStc15aRows[std::size(kStc15aRows) - 1];
    for (const Stc15aRow& r : kStc15aRows)
        if (f < r.upToMHz) {
            row = &r;
            break;
        }
    std::vector<StcTrim> out;
    for (uint16_t c : row->challenges) out.push_back(StcTrim::fromWord(c));
    for (uint16_t c : highSpeed ? kStc15aHighSpeedPair : kStc15aNormalPair) out.push_back(StcTrim::fromWord(c));
    return out;
}

namespace {
std::optional<long> stc15aPair(const std::vector<StcTrim>& r, const std::vector<uint16_t>& c, size_t a, double target,
                               QString* why) {
    if (r.size() < a + 2 || c.size() < a + 2) {
        fail(why, QStringLiteral("the first round has %1 challenges and %2 counts, expected 6").arg(r.size()).arg(c.size()));
        return std::nullopt;
    }
    const auto t = interpolate(r[a].word(), r[a + 1].word(), c[a], c[a + 1], target);
    if (!t) {
        fail(why, QStringLiteral("trims %1 and %2 gave the same count %3").arg(hex4(r[a].word()), hex4(r[a + 1].word())).arg(c[a]));
        return std::nullopt;
    }
    if (*t < 0 || *t > 0xFFFF) {
        fail(why, QStringLiteral("the trim for count %1 lies outside 0000..FFFF (%2)").arg(target, 0, 'f', 1).arg(*t));
        return std::nullopt;
    }
    return t;
}
} // namespace

std::optional<StcTrim> Stc15aProgrammingTrim(const std::vector<StcTrim>& round1, const std::vector<uint16_t>& counts,
                                             double target, QString* why) {
    const auto t = stc15aPair(round1, counts, 4, target, why);
    if (!t) return std::nullopt;
    return StcTrim::fromWord(static_cast<unsigned>(*t));
}

std::optional<std::vector<StcTrim>> Stc15aSecondRound(const std::vector<StcTrim>& round1,
                                                      const std::vector<uint16_t>& counts, double target,
                                                      QString* why) {
    if (counts.size() < 4) {
        fail(why, QStringLiteral("the first round has %1 counts, expected 6").arg(counts.size()));
        return std::nullopt;
    }
    const size_t pair = counts[2] <= target && target <= counts[3] ? 2 : 0;
    const auto t = stc15aPair(round1, counts, pair, target, why);
    if (!t) return std::nullopt;
    const long lo = std::min(round1[pair].word(), round1[pair + 1].word());
    const long hi = std::max(round1[pair].word(), round1[pair + 1].word());
    const long first = std::clamp(*t - kStc15aSecondRoundLead, lo, hi);
    std::vector<StcTrim> out;
    for (int i = 0; i < kStc15aSecondRoundSize; ++i) out.push_back(StcTrim::fromWord(static_cast<unsigned>(first + i)));
    return out;
}

// ---- STC15 --------------------------------------------------------------------------

std::vector<StcTrim> Stc15FirstRound() {
    std::vector<StcTrim> out;
    for (uint8_t band : kStc15Bands)
        for (uint8_t t : {0x00, 0x80, 0xFF})
            if (band != 0x00 || t != 0xFF) out.push_back({t, band});
    return out;
}

std::optional<StcTrim> Stc15Estimate(const std::vector<StcTrim>& challenges, const std::vector<uint16_t>& counts,
                                     double target, QString* why) {
    const size_t n = std::min(challenges.size(), counts.size());
    for (size_t i = 0; i + 1 < n; ++i) {
        const StcTrim a = challenges[i], b = challenges[i + 1];
        if (a.second != b.second) continue;
        const double lo = std::min(counts[i], counts[i + 1]), hi = std::max(counts[i], counts[i + 1]);
        if (target < lo || target > hi) continue;
        const auto t = interpolate(a.first, b.first, counts[i], counts[i + 1], target);
        if (!t || *t < 0 || *t > 0xFF) continue;
        return StcTrim{static_cast<uint8_t>(*t), b.second};
    }
    QStringList reach;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (challenges[i].second != challenges[i + 1].second) continue;
        if (i > 0 && challenges[i - 1].second == challenges[i].second) continue; // first pair of the band
        size_t j = i;
        while (j + 1 < n && challenges[j + 1].second == challenges[i].second) ++j;
        reach << QStringLiteral("band %1: %2-%3").arg(hex2(challenges[i].second), QString::number(counts[i]),
                                                       QString::number(counts[j]));
    }
    fail(why, QStringLiteral("no band's counts bracket %1 (%2)").arg(target, 0, 'f', 1).arg(reach.join(QStringLiteral(", "))));
    return std::nullopt;
}

std::vector<StcTrim> Stc15SecondRound(StcTrim user, StcTrim program) {
    std::vector<StcTrim> out;
    for (StcTrim t : {user, program}) {
        const int start = windowStart(t.first, kStc15WindowBelow, kStc15WindowSize);
        for (int i = 0; i < kStc15WindowSize; ++i) out.push_back({static_cast<uint8_t>(start + i), t.second});
    }
    return out;
}

bool StcCountsOneSided(const std::vector<uint16_t>& counts, double target, int from, int n) {
    bool below = false, above = false;
    for (int i = from; i < from + n && i < static_cast<int>(counts.size()); ++i) {
        below = below || counts[i] <= target;
        above = above || counts[i] >= target;
    }
    return !(below && above);
}

// ---- STC8 and its newer variant -----------------------------------------------------

std::vector<StcTrim> Stc8FirstRound(Stc8FirstRoundKind kind) {
    if (kind == Stc8FirstRoundKind::Narrow) return {{0x00, 0x00}, {0x80, 0x00}};
    std::vector<StcTrim> out;
    for (uint8_t t : kStc8WideT) out.push_back({t, 0x00});
    return out;
}

std::vector<StcTrim> Stc8dFirstRound() {
    std::vector<StcTrim> out;
    for (uint8_t band : kStc8dBands)
        for (uint8_t t : {0x00, 0xFF}) out.push_back({t, band});
    return out;
}

std::vector<StcTrim> Stc8gFirstRound() { return {{0x00, 0x00}, {0x80, 0x00}, {0x00, 0x80}, {0x80, 0x80}, {0xFF, 0x00}}; }

namespace {

// STC8: T between neighbouring challenges whose counts bracket n.
std::optional<StcTrim> stc8Bracket(const std::vector<StcTrim>& ch, const std::vector<uint16_t>& c, double n) {
    for (size_t i = 0; i + 1 < std::min(ch.size(), c.size()); ++i) {
        if (n < std::min(c[i], c[i + 1]) || n > std::max(c[i], c[i + 1])) continue;
        const auto t = interpolate(ch[i].first, ch[i + 1].first, c[i], c[i + 1], n);
        if (t && *t >= 0 && *t <= 0xFF) return StcTrim{static_cast<uint8_t>(*t), 0x00};
    }
    return std::nullopt;
}

// STC8D/STC8G: the count of challenge (t, band), if the round has it.
std::optional<double> countOf(const std::vector<StcTrim>& ch, const std::vector<uint16_t>& c, uint8_t t, uint8_t band) {
    for (size_t i = 0; i < std::min(ch.size(), c.size()); ++i)
        if (ch[i] == StcTrim{t, band}) return c[i];
    return std::nullopt;
}

std::optional<StcTrim> stc8dBand(const std::vector<StcTrim>& ch, const std::vector<uint16_t>& c, double n, uint8_t band,
                                 uint8_t topT, long scale, bool mustBracket) {
    const auto c0 = countOf(ch, c, 0x00, band), c1 = countOf(ch, c, topT, band);
    if (!c0 || !c1 || *c0 == *c1) return std::nullopt;
    if (mustBracket && (n < *c0 || n > *c1)) return std::nullopt;
    const long t = std::lround((n - *c0) * static_cast<double>(scale) / (*c1 - *c0));
    if (t < kStc8dLowestT || t > kStc8dHighestT) return std::nullopt;
    return StcTrim{static_cast<uint8_t>(t), band};
}

} // namespace

std::optional<Stc8Estimate> Stc8EstimateTrim(StcModernFamily family, const std::vector<StcTrim>& challenges,
                                             const std::vector<uint16_t>& counts, double userHz, int baud,
                                             QString* why) {
    for (int d = 1; d <= kStc8MaxDivider; ++d) {
        const double n = StcTrimCount(family, userHz, baud, d);
        std::optional<StcTrim> t;
        if (family == StcModernFamily::Stc8d) {
            for (uint8_t band : kStc8dBands)
                if ((t = stc8dBand(challenges, counts, n, band, 0xFF, 255, true))) break;
        } else if (family == StcModernFamily::Stc8g) {
            for (uint8_t band : kStc8gBands)
                if ((t = stc8dBand(challenges, counts, n, band, 0x80, 128, false))) break;
        } else {
            t = stc8Bracket(challenges, counts, n);
        }
        if (t) return Stc8Estimate{d, *t, n};
    }
    QStringList got;
    for (size_t i = 0; i < std::min(challenges.size(), counts.size()); ++i)
        got << QStringLiteral("%1:%2").arg(hex4(challenges[i].word())).arg(counts[i]);
    fail(why, QStringLiteral("no divider 1-%1 brings %2 MHz within the RC oscillator's counts (%3)")
                  .arg(kStc8MaxDivider)
                  .arg(mhz(userHz), got.join(QLatin1Char(' '))));
    return std::nullopt;
}

std::vector<StcTrim> Stc8SecondRound(StcTrim estimate, bool centred) {
    std::vector<StcTrim> out;
    const int start = windowStart(estimate.first, centred ? 1 : 0, 3);
    if (centred) {
        for (int f = 0; f < kStc8FineSteps; ++f)
            for (int i = 0; i < 3; ++i) out.push_back({static_cast<uint8_t>(start + i), static_cast<uint8_t>(f)});
    } else {
        for (int i = 0; i < 3; ++i)
            for (int f = 0; f < kStc8FineSteps; ++f) out.push_back({static_cast<uint8_t>(start + i), static_cast<uint8_t>(f)});
    }
    return out;
}

std::vector<StcTrim> Stc8dSecondRound(StcTrim estimate) {
    std::vector<StcTrim> out;
    const int start = windowStart(estimate.first, kStc8dWindowBelow, kStcCalibrationSlots);
    for (int i = 0; i < kStcCalibrationSlots; ++i) out.push_back({static_cast<uint8_t>(start + i), estimate.second});
    return out;
}

double NearestCommonStcFrequency(double hz) {
    static const double kCommonMhz[] = {5.5296, 6, 8, 11.0592, 12, 16, 18.432, 20, 22.1184, 24,
                                        27, 30, 33.1776, 35};
    double best = 0;
    for (double mhz : kCommonMhz) {
        const double f = mhz * 1e6;
        if (std::abs(f - hz) <= 0.03 * hz && (best == 0 || std::abs(f - hz) < std::abs(best - hz))) best = f;
    }
    return best > 0 ? best : std::round(hz / 1e3) * 1e3;
}

} // namespace talvo::protocol
