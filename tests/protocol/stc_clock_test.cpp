// The crystal from the status frame's counts, and the download rate and
// reload chosen from it: the worked examples, the mended choices, and a sweep
// that every choice is one the chip's timer can make.
#include <gtest/gtest.h>

#include <cmath>

#include "protocol/StcClock.h"

using namespace talvo::protocol;

namespace {
std::vector<uint16_t> eight(uint16_t c) { return std::vector<uint16_t>(8, c); }
} // namespace

TEST(StcClock, WorkedExamplesKeepTheTablesChoice) {
    struct Case {
        std::vector<uint16_t> counts;
        int handshake, family;
        bool sixClock;
        double mhz;
        uint32_t baud;
        int reload;
    };
    const Case cases[] = {
        {eight(5378), 1200, 1, false, 11.058966, 57600, 0xFA},
        {{5370, 5380, 5378, 5378, 5378, 5378, 5378, 5400}, 1200, 1, false, 11.059652, 38400, 0xF7}, // mended (F6)
        {eight(5378), 1200, 2, false, 11.099074, 38400, 0xEE},
        {eight(1344), 4800, 1, false, 11.054854, 4800, 0xB8},
        {eight(1344), 4800, 2, false, 11.094947, 4800, 0x6F},
        {eight(5378), 1200, 1, true, 11.058966, 28800, 0xF4},
    };
    for (const Case& c : cases) {
        const double f = MeasureClock(c.counts, c.handshake, c.family);
        EXPECT_NEAR(f, c.mhz, 1e-6);
        const RateChoice r = ChooseDownloadBaud(f, c.handshake, c.family, c.sixClock);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.baud, c.baud) << c.mhz;
        EXPECT_EQ(r.reload, c.reload) << c.mhz;
    }
    EXPECT_EQ(FrequencyText(11.058966), " 11.058966");
    EXPECT_EQ(MeasureClock({1, 2, 3}, 1200, 1), 0.0) << "fewer than eight counts are never computed from";
    // The second example's table choice was 38400 with F6, which the chip
    // turns into 34 561 baud (-10 %).
    const RateChoice r = ChooseDownloadBaud(11.059652, 1200, 1, false);
    EXPECT_EQ(r.tableReload, 0xF6);
    EXPECT_TRUE(r.mended);
    EXPECT_NEAR(StcChipRate(11.059652, 1, 0xF6), 34561, 1);
}

TEST(StcClock, TableRowsAndTheirBounds) {
    const std::pair<double, uint32_t> rows[] = {{57600, 38400}, {57599, 57600}, {83333, 2400}, {1300, 1000},
                                                {125000, 57600}, {104166, 115200}, {500, 2400}};
    for (auto [d, baud] : rows) EXPECT_EQ(ChooseFromRateTable(d).baud, baud) << d;
    EXPECT_FALSE(ChooseFromRateTable(83333).applied);
}

TEST(StcClock, MendedChoicesAtExactCrystals) {
    struct Case {
        double mhz;
        int family;
        uint32_t baud;
        int reload;
    };
    const Case cases[] = {
        {20.0, 1, 57600, 0xF5}, {24.0, 1, 57600, 0xF3}, {16.0, 1, 38400, 0xF3}, {27.0, 1, 57600, 0xF1},
        {24.0, 2, 57600, 0xE6}, {16.0, 2, 57600, 0xEF},
    };
    for (const Case& c : cases) {
        const RateChoice r = ChooseDownloadBaud(c.mhz, 1200, c.family, false);
        EXPECT_TRUE(r.ok) << c.mhz;
        EXPECT_EQ(r.baud, c.baud) << c.mhz << " MHz, family " << c.family;
        EXPECT_EQ(r.reload, c.reload) << c.mhz << " MHz, family " << c.family;
        EXPECT_TRUE(r.mended);
        EXPECT_FALSE(r.note.isEmpty());
    }
    // Low speed at 20 MHz on the two-byte family: 4800 cannot be made.
    const RateChoice low = ChooseDownloadBaud(20.0, 4800, 2, false);
    EXPECT_FALSE(low.ok);
    EXPECT_FALSE(low.note.isEmpty());
    // The table's lowest row gives 1000 baud, which is no standard rate; a
    // chip that makes it within 3 % keeps it (a fuzzed status frame's
    // 0.25 MHz crystal: reload F8, the chip makes 981 baud).
    const RateChoice slow = ChooseDownloadBaud(0.25121551918240803, 1200, 1, false);
    EXPECT_TRUE(slow.ok);
    EXPECT_EQ(slow.baud, 1000u);
    EXPECT_EQ(slow.reload, 0xF8);
    EXPECT_FALSE(slow.mended);
}

// Every crystal of the sweep, both families, both speed modes, 12- and
// 6-clock: a choice is a reload in 1..255 that makes the host's rate within
// 3 %, never faster than the table's, or none at all -- and none only where
// no standard rate works.
TEST(StcClock, EveryChoiceIsOneTheChipCanMake) {
    const double crystals[] = {6, 11.0592, 12, 16, 18.432, 20, 22.1184, 24, 27, 30, 33, 35};
    for (double xtal : crystals)
        for (int family : {1, 2})
            for (int handshake : {1200, 4800})
                for (int clock : {12, 6}) {
                    if (family == 2 && clock == 6) continue;
                    // A 6-clock chip counts twice as fast: the host measures 2 f.
                    const double f = xtal * (clock == 6 ? 2 : 1);
                    const bool marker = clock == 6;
                    const RateChoice r = ChooseDownloadBaud(f, handshake, family, marker);
                    const std::string where = std::to_string(xtal) + " MHz family " + std::to_string(family) + " at " +
                                              std::to_string(handshake) + ", " + std::to_string(clock) + "-clock";
                    if (!r.ok) {
                        // Only low speed refuses in this sweep, where 4800 needs a reload below 1.
                        EXPECT_EQ(handshake, 4800) << where;
                        EXPECT_LT(256 - std::lround(f * 1e6 / ((family == 2 ? 16.0 : 32.0) * 4800)), 1) << where;
                        continue;
                    }
                    EXPECT_GE(r.reload, 1) << where;
                    EXPECT_LE(r.reload, 255) << where;
                    EXPECT_LE(std::fabs(StcChipRate(f, family, r.reload) / r.baud - 1.0), kRateTolerance) << where;
                    if (handshake == 4800) {
                        EXPECT_EQ(r.baud, 4800u) << where;
                    }
                    if (r.tableApplied && handshake == 1200) {
                        EXPECT_LE(r.baud, std::max(r.tableBaud, 1200u)) << where;
                    }
                }
}
