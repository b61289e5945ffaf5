// Transfer rates of the STC families' bootloader timers (see the header).
#include "protocol/StcTransferRate.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <functional>

#include "protocol/StcClock.h"

namespace talvo::protocol {

namespace {

// A timer: the reloads it takes, what it makes of one, and the reload for a rate.
struct Timer {
    long lowest, highest;
    std::function<double(long)> rateOf;
    std::function<long(double)> reloadFor;
};

bool within(double made, double wanted) { return std::fabs(made / wanted - 1.0) <= kRateTolerance; }

// The reload that makes `baud` best, and what it makes (reload outside the
// timer's range: rate 0).
std::pair<long, double> best(const Timer& t, double baud) {
    long r = t.reloadFor(baud);
    std::pair<long, double> b{r, 0.0};
    for (long c = r - 1; c <= r + 1; ++c) {
        if (c < t.lowest || c > t.highest) continue;
        const double made = t.rateOf(c);
        if (b.second == 0.0 || std::fabs(made - baud) < std::fabs(b.second - baud)) b = {c, made};
    }
    return b;
}

StcRateChoice choose(uint32_t baud, const Timer& t) {
    StcRateChoice c;
    c.baud = baud;
    if (baud == 0) {
        c.why = QStringLiteral("a rate of 0 baud");
        return c;
    }
    const auto [reload, made] = best(t, baud);
    c.reload = reload;
    c.chipRate = made;
    if (made > 0 && within(made, baud)) {
        c.ok = true;
        return c;
    }
    uint32_t below = 0, above = 0;
    for (uint32_t r : kStcOfferedRates) {
        const double m = best(t, r).second;
        if (m <= 0 || !within(m, r)) continue;
        if (r < baud) below = r;
        if (r > baud && above == 0) above = r;
    }
    QStringList names;
    for (uint32_t r : {below, above})
        if (r) {
            c.nearest.push_back(r);
            names << QString::number(r);
        }
    c.why = made > 0 ? QStringLiteral("%1 baud: the chip's timer makes %2 baud at best (%3 % off, 3 % allowed)")
                           .arg(baud)
                           .arg(made, 0, 'f', 0)
                           .arg(100.0 * (made / baud - 1.0), 0, 'f', 1)
                     : QStringLiteral("%1 baud: beyond the chip's timer").arg(baud);
    c.why += names.isEmpty() ? QStringLiteral("; it makes no offered rate within 3 %")
                             : QStringLiteral("; nearest rates it makes: %1").arg(names.join(QStringLiteral(", ")));
    return c;
}

Timer sixteenBit(double clockHz, double divisor) {
    return {1, 0xFFFF, [=](long r) { return clockHz / (divisor * (65536.0 - r)); },
            [=](double b) { return 65536 - std::lround(clockHz / (divisor * b)); }};
}

} // namespace

StcRateChoice OldStcTransferRate(uint32_t baud, double mhz, int familyCode) {
    const double divisor = familyCode == 1 ? 32.0 : 16.0;
    return choose(baud, {1, 255, [=](long r) { return StcChipRate(mhz, familyCode, static_cast<int>(r)); },
                         [=](double b) { return 256 - std::lround(mhz * 1e6 / (divisor * b)); }});
}

StcRateChoice Stc15aTransferRate(uint32_t baud, bool highSpeed) {
    const double k = highSpeed ? 230400.0 : 115200.0;
    return choose(baud, {1, 255, [=](long bd) { return k / static_cast<double>(bd); },
                         [=](double b) { return std::lround(k / b); }});
}

StcRateChoice Stc15TransferRate(uint32_t baud, double programHz, bool hasUart) {
    return choose(baud, sixteenBit(programHz, hasUart ? 4.0 : 1.0));
}

StcRateChoice Stc8TransferRate(uint32_t baud, double clockHz) { return choose(baud, sixteenBit(clockHz, 4.0)); }

uint16_t Stc15UartlessReload2(uint32_t baud, double programHz) {
    if (baud == 0) return 0;
    return static_cast<uint16_t>(65536 - std::lround(1.5 * programHz / baud));
}

bool Stc15HasUart(uint16_t modelCode) { return (modelCode >> 8) != 0xF2; }

uint8_t StcFlashWait(double hz) {
    struct Step {
        double belowMHz;
        uint8_t wait;
    };
    constexpr Step kSteps[] = {{1, 0x87}, {2, 0x86}, {3, 0x85}, {6, 0x84}, {12, 0x83}, {20, 0x82}, {24, 0x81}};
    for (const Step& s : kSteps)
        if (hz < s.belowMHz * 1e6) return s.wait;
    return 0x80;
}

QString StcRateRefusal(const StcRateChoice& choice) {
    QStringList rates;
    for (uint32_t r : choice.nearest) rates << QString::number(r);
    return QCoreApplication::translate(
               "StcTransferRate",
               "芯片无法以 %1 波特通信（它的定时器最接近的是 %2 波特，相差超过 3%）；可用的相近波特率：%3")
        .arg(choice.baud)
        .arg(choice.chipRate, 0, 'f', 0)
        .arg(rates.isEmpty() ? QCoreApplication::translate("StcTransferRate", "无")
                             : rates.join(QCoreApplication::translate("StcTransferRate", "、")));
}

} // namespace talvo::protocol
