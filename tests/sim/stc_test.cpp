// STC simulators: replays of real captures, the answer tables, the rate
// switch and the frame checks.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/VirtualWire.h"

using namespace talvo;
using namespace talvo::sim;
using namespace talvo::simtest;

namespace {

// The chip's echo of a host frame: direction 68 and the checksum 2 lower (form 1).
Bytes echoOf(const Bytes& hostFrame) {
    Bytes e = hostFrame;
    e[2] = 0x68;
    e[e.size() - 2] = static_cast<uint8_t>(e[e.size() - 2] - 2);
    return e;
}

Bytes block(uint8_t seed) {
    Bytes b(128);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

Bytes writePayload(uint16_t addr, const Bytes& data) {
    Bytes p = {0x00, 0x00, 0x00, static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr & 0xFF), 0x00, 0x80};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

uint8_t sum8(const Bytes& b) {
    unsigned s = 0;
    for (auto v : b) s += v;
    return static_cast<uint8_t>(s);
}

// The host's own formulas: crystal from the eight counts, download rate and reload.
struct HostChoice {
    double mhz;
    int baud;
    int reload;
};

HostChoice hostFormulas(const std::vector<uint16_t>& counts, int handshake, int family, bool fcf0 = false) {
    long sum = 0;
    int lo = 65536, hi = -1;
    for (auto c : counts) {
        sum += c;
        lo = std::min<int>(lo, c);
        hi = std::max<int>(hi, c);
    }
    const double t = static_cast<double>(sum - lo - hi);
    const double factor = family == 1 ? 0.14280099999 : 0.14331889999;
    const double f = (t / 6) * (12.0 * handshake) * factor / 1e6;
    const double y = 2 * f * 1e6;
    const long d = static_cast<long>(fcf0 ? y / 768 : y / 384);
    struct Row {
        int r;
        double lo, hi;
        int p;
    };
    const Row rows[] = {{1200, 960.0000143, 1440.0000572, 1000},     {2400, 1920.0000286, 2880.0001144, 1200},
                        {4800, 3840.0000572, 5760.0002289, 2400},    {9600, 7680.0001144, 11520.0004578, 4800},
                        {14400, 11520.0001717, 17280.0006866, 9600}, {19200, 15360.0002289, 23040.0009155, 14400},
                        {28800, 23040.0003433, 34560.0013733, 19200}, {38400, 30720.0004578, 46080.0018311, 28800},
                        {57600, 46080.0006866, 69120.0027466, 38400}, {115200, 92160.0013733, 138240.0054932, 57600}};
    int baud = 2400;
    for (const auto& r : rows) {
        if (d >= r.r) {
            if (d < r.hi) baud = r.p;
        } else if (d > r.lo) {
            baud = r.r;
        }
    }
    double v;
    if (handshake == 4800) {
        baud = 4800;
        v = family == 1 ? 256 - 6 * y / (384.0 * 4800) : 256 - 12 * y / (384.0 * 4800);
    } else {
        v = family == 1 ? 256 - 6 * y / (384.0 * baud)
                        : 256 - 11.5 * (2 * static_cast<double>(0.997851f) * f * 1e6) / (384.0 * baud);
    }
    return {f, baud, static_cast<int>(v)};
}

} // namespace

TEST(StcStatus, Stc89CaptureReplayedByteForByte) {
    // Captured: STC89C52RC, 6-clock mode, 19.957 MHz crystal, 2400 baud 8N1.
    auto chip = stc("stc89c52rc,freq=19.957,clock=6,jitter=0:0:0:0:0:0:-4:0");
    VirtualWire w(*chip, line(2400));
    const TimePoint start = w.now();
    const Bytes status = sync(w, 59);
    const Bytes capture = hexToBytes(
        "68 00 3B 00 25 E6 25 E6 25 E6 25 E6 25 E6 25 E6 25 E2 25 E6 43 43 FC F0 02 82"
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ED 16");
    ASSERT_EQ(capture.size(), 59u);
    EXPECT_EQ(hexBytes(status), hexBytes(capture));
    for (const auto& h : w.heard) EXPECT_FALSE(h.error);
    // One status frame, about 0.3 s after the burst started.
    const double firstByte = std::chrono::duration<double>(w.heard.front().at - start).count();
    EXPECT_GT(firstByte, 0.28);
    EXPECT_LT(firstByte, 0.40);
    w.heard.clear();
    w.send({0x7F, 0x7F, 0x7F, 0x7F});
    w.run(500ms);
    EXPECT_TRUE(w.heard.empty());
}

TEST(StcStatus, Stc12CaptureReplayedByteForByte) {
    // Captured: STC12C5A60S2 at 9600 baud 8E1 on a 20 MHz crystal (counts
    // 1212-1213, a little under the formula's 1215.3).
    auto chip = stc("stc12c5a60s2,freq=20,jitter=1:0:0:1:0:0:0:0");
    VirtualWire w(*chip, line(9600, 2));
    const Bytes status = sync(w, 51);
    const Bytes capture = hexToBytes(
        "46 B9 68 00 31 50 04 BD 04 BC 04 BC 04 BD 04 BC 04 BC 04 BC 04 BC 62 49 00 D1 7E 8C"
        "FF 7F F7 FF FF FF 00 00 00 03 00 B0 02 2E 6B 00 CD 80 00 00 11 7E 16");
    EXPECT_EQ(hexBytes(status), hexBytes(capture));
    for (const auto& h : w.heard) EXPECT_FALSE(h.error);
}

TEST(StcStatus, CountsFollowTheCrystalAndTheHostFormulasGiveItBack) {
    // 12-clock STC89C52RC on 11.0592 MHz: count = f*7/(r*12) = 5376 at 1200 baud.
    for (const char* name : {"stc89c52rc", "stc90c516", "stc12c5a60s2", "stc11f60"}) {
        for (int baud : {1200, 4800}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(baud));
            auto chip = stc(std::string(name) + ",seed=3");
            const int family = chip->model().family == StcFamily::OneByte ? 1 : 2;
            VirtualWire w(*chip, line(baud, chip->nativeParity()));
            const Bytes status = sync(w, chip->model().statusWithStart ? 22 : 20);
            ASSERT_GE(status.size(), 20u);
            const size_t at = chip->model().statusWithStart ? 6 : 4; // first count byte
            std::vector<uint16_t> counts;
            for (size_t i = 0; i < 8; ++i) counts.push_back(static_cast<uint16_t>(status[at + 2 * i] << 8 | status[at + 2 * i + 1]));
            EXPECT_EQ(counts, chip->lastCounts());
            const double exact = 11.0592e6 * 7 / (baud * 12.0) * (family == 1 ? 1.0 : 1211.75 / 1215.28);
            for (auto c : counts) EXPECT_NEAR(c, exact, 2.5);
            // Each family's factor turns its chip's counts back into 11.05 MHz.
            const HostChoice h = hostFormulas(counts, baud, family);
            EXPECT_NEAR(h.mhz, 11.0592, 11.0592 * 0.001);
            // The reload the host computes puts the chip within its UART tolerance of the host.
            const double chipRate = chip->rateForReload(static_cast<uint8_t>(h.reload));
            EXPECT_LT(std::fabs(chipRate / h.baud - 1.0), kUartTolerance) << "reload " << h.reload << " gives " << chipRate << " for " << h.baud;
        }
    }
}

TEST(StcStatus, SixClockMarkerAndCountsDouble) {
    auto chip = stc("stc89c52rc,clock=6,jitter=off");
    VirtualWire w(*chip, line(1200));
    const Bytes status = sync(w, 59);
    ASSERT_EQ(status.size(), 59u);
    EXPECT_EQ(status[22], 0xFC); // "fcf0": option byte with bit 0 clear, then model F0 02
    EXPECT_EQ(status[23], 0xF0);
    EXPECT_EQ(chip->lastCounts()[0], 10752); // 11.0592e6*7/(1200*6)
    const HostChoice h = hostFormulas(chip->lastCounts(), 1200, 1, true);
    EXPECT_LT(std::fabs(chip->rateForReload(static_cast<uint8_t>(h.reload)) / h.baud - 1.0), kUartTolerance);
}

TEST(StcStatus, TruncatedStatusFault) {
    auto chip = stc("stc89c52rc,truncate-status=20");
    VirtualWire w(*chip, line(1200));
    const Bytes status = sync(w, 59, 2000ms);
    EXPECT_EQ(status.size(), 20u);
}

TEST(StcOneByte, AnswerTableAtTheRatesOfTheChip) {
    auto chip = stc("stc89c52rc");
    VirtualWire w(*chip, line(1200));
    ASSERT_EQ(sync(w, 59).size(), 59u);
    w.run(700ms); // the host reads the status frame

    // 8F: answered at the new rate (FA -> 57600 at 11.0592 MHz), then the chip is back at 1200.
    const Bytes f8f = stcHostFrame(hexToBytes("8F FF FA 00 14 28 81"), 1);
    w.heard.clear();
    w.send(f8f);
    w.run(20ms);
    w.setHost(line(57600));
    w.run(500ms);
    EXPECT_EQ(hexBytes(w.values()), hexBytes(echoOf(f8f)));
    EXPECT_EQ(w.values().size(), 14u); // 46 B9 68 00 0C ... cs 16
    EXPECT_EQ(chip->uart().baud, 1200u);

    // 8E at 1200: echo at 57600, where the chip stays.
    const Bytes f8e = stcHostFrame(hexToBytes("8E FF FA 00 14 28"), 1);
    w.setHost(line(1200));
    w.heard.clear();
    w.send(f8e);
    w.run(50ms);
    w.setHost(line(57600));
    w.run(500ms);
    EXPECT_EQ(hexBytes(w.values()), hexBytes(echoOf(f8e)));
    EXPECT_EQ(chip->uart().baud, 57600u);

    const Bytes ee = hexToBytes("46 B9 68 00 06 80 EE 16");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(hexBytes(w.exchange(stcHostFrame(hexToBytes("80 02 00 36 01 F0 02"), 1), 8)), hexBytes(ee));

    chip->flash()[100] = 0x12;
    const TimePoint eraseSent = w.now();
    EXPECT_EQ(hexBytes(w.exchange(stcHostFrame(hexToBytes("84 01 33 33 33 33 33 33"), 1), 8)), hexBytes(ee));
    const double eraseTook = std::chrono::duration<double>(w.heard.front().at - eraseSent).count();
    EXPECT_GT(eraseTook, 0.15);
    EXPECT_LT(eraseTook, 0.3);
    EXPECT_EQ(chip->flash()[100], 0xFF);

    for (uint16_t addr : {0x0000, 0x0080}) {
        const Bytes data = block(static_cast<uint8_t>(addr));
        const Bytes ack = w.exchange(stcHostFrame(writePayload(addr, data), 1), 9);
        const uint8_t ss = sum8(data);
        EXPECT_EQ(hexBytes(ack), hexBytes(Bytes{0x46, 0xB9, 0x68, 0x00, 0x07, 0x80, ss,
                                                static_cast<uint8_t>(0x68 + 0x07 + 0x80 + ss), 0x16}));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), chip->flash().begin() + addr));
    }
    const Bytes f8d = stcHostFrame(hexToBytes("8D FD FF F3 FF"), 1);
    EXPECT_EQ(hexBytes(w.exchange(f8d, f8d.size())), hexBytes(echoOf(f8d)));
    EXPECT_EQ(hexBytes(w.exchange(hexToBytes("46B96A000682f216"), 8)), hexBytes(ee));
    EXPECT_EQ(chip->state(), StcChip::State::Done);
    EXPECT_TRUE(chip->rejectedFrames().empty());
    for (const auto& h : w.heard) EXPECT_FALSE(h.error);
}

TEST(StcOneByte, LowSpeedSwitchStaysAt4800) {
    auto chip = stc("stc89c52rc");
    VirtualWire w(*chip, line(4800));
    ASSERT_EQ(sync(w, 59).size(), 59u);
    const Bytes f8f = stcHostFrame(hexToBytes("8F FF B8 00 9C 50 81"), 1);
    EXPECT_EQ(hexBytes(w.exchange(f8f, f8f.size())), hexBytes(echoOf(f8f)));
    const Bytes f8e = stcHostFrame(hexToBytes("8E FF B8 00 9C 50"), 1);
    EXPECT_EQ(hexBytes(w.exchange(f8e, f8e.size())), hexBytes(echoOf(f8e)));
    EXPECT_EQ(chip->uart().baud, 4800u);
}

TEST(StcTwoByte, AnswerTableOfTheStc12) {
    auto chip = stc("stc12c5a60s2");
    VirtualWire w(*chip, line(1200, 2));
    ASSERT_EQ(sync(w, 51).size(), 51u);
    w.run(700ms);
    auto answer = [&](const char* payload) { return hexBytes(chip->frame(hexToBytes(payload))); };

    TimePoint sent = w.now();
    EXPECT_EQ(hexBytes(w.exchange(stcHostFrame(hexToBytes("50 07 00 36 01 D1 7E"), 2), 10)), answer("8F 00"));
    EXPECT_NEAR(std::chrono::duration<double>(w.heard.back().at - sent).count(), (14 + 10) * 11 / 1200.0 + 0.05, 0.01);

    // 8F with reload EE (38400 baud at 11.0592 MHz): echo + 04 at the new rate.
    // The switch answers start about 0.26 s after the frame.
    auto tookFrom = [&](TimePoint frameEnd) {
        return std::chrono::duration<double>(w.heard.front().at - frameEnd).count() - 11 / 38400.0;
    };
    w.heard.clear();
    w.send(stcHostFrame(hexToBytes("8F C0 EE 3F 1A 28 83"), 2));
    sent = w.now();
    w.run(10ms);
    w.setHost(line(38400, 2));
    w.run(600ms);
    EXPECT_EQ(hexBytes(w.values()), answer("8F C0 EE 3F 1A 28 83 04"));
    EXPECT_EQ(chip->uart().baud, 1200u);
    EXPECT_NEAR(tookFrom(sent), 0.26, 0.005);

    w.setHost(line(1200, 2));
    w.heard.clear();
    w.send(stcHostFrame(hexToBytes("8E C0 EE 3F 1A 28"), 2));
    sent = w.now();
    w.setHost(line(38400, 2));
    w.run(600ms);
    EXPECT_EQ(hexBytes(w.values()), answer("84 C0 EE 3F 1A 28 04"));
    EXPECT_EQ(chip->uart().baud, 38400u);
    EXPECT_NEAR(tookFrom(sent), 0.26, 0.005);

    const Bytes erase = hexToBytes(
        "46B96A008C84FF00F00000F0000000000000000000000000807F7E7D7C7B7A797877767574737271706F6E6D6C6B6A6968676665646362"
        "61605F5E5D5C5B5A595857565554535251504F4E4D4C4B4A494847464544434241403F3E3D3C3B3A393837363534333231302F2E2D2C2B"
        "2A292827262524232221201F1E1D1C1B1A191817161514131211100F0E243E16");
    ASSERT_EQ(erase.size(), 142u);
    sent = w.now();
    EXPECT_EQ(hexBytes(w.exchange(erase, 10)), answer("00 00"));
    EXPECT_NEAR(std::chrono::duration<double>(w.heard.front().at - sent).count(), 1.6, 0.1);

    const Bytes data = block(5);
    EXPECT_EQ(hexBytes(w.exchange(stcHostFrame(writePayload(0, data), 2), 10)),
              hexBytes(chip->frame({0x00, sum8(data)})));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip->flash().begin()));
    EXPECT_EQ(hexBytes(w.exchange(hexToBytes("46B96A000d6907003601D17E026d16"), 10)), answer("8D 00"));
    EXPECT_EQ(hexBytes(w.exchange(stcHostFrame(hexToBytes("8D FD FF F3 FF"), 2), 19)),
              answer("50 8C FF 7F F7 B0 02 2E 6B 00 CD 80"));
    // The closing 82 (sent in form 1 by hosts) gets no answer.
    EXPECT_TRUE(w.exchange(hexToBytes("46B96A000682f216"), 1, 1s).empty());
    EXPECT_EQ(chip->state(), StcChip::State::Done);
    EXPECT_TRUE(chip->rejectedFrames().empty());
}

TEST(StcTwoByte, Stc11EraseAnswersWithItsUniqueId) {
    auto chip = stc("stc11f60,scale=0");
    VirtualWire w(*chip, line(1200, 2));
    ASSERT_EQ(sync(w, 51).size(), 51u);
    Bytes payload = {0x84, 0xFF, 0x00, 0xF0, 0x00, 0x00, 0xF0};
    payload.resize(payload.size() + 12, 0x00);
    for (int k = 0; k < 115; ++k) payload.push_back(static_cast<uint8_t>(0x80 - k));
    Bytes want = {0x00};
    want.insert(want.end(), chip->model().uid.begin(), chip->model().uid.end());
    EXPECT_EQ(hexBytes(w.exchange(stcHostFrame(payload, 2), 16)), hexBytes(chip->frame(want)));
}

TEST(StcLine, ReloadFivePercentOffLosesTheChip) {
    // The host computes FA for 57600 at 11.0592 MHz; a chip whose crystal
    // runs 4 % fast still hears it, 5 % fast does not.
    for (double off : {0.04, 0.05}) {
        SCOPED_TRACE(off);
        auto chip = stc("stc89c52rc,idle=0,freq=" + std::to_string(11.0592 * (1 + off)));
        VirtualWire w(*chip, line(1200));
        ASSERT_EQ(sync(w, 59).size(), 59u);
        w.run(500ms);
        const Bytes f8e = stcHostFrame(hexToBytes("8E FF FA 00 14 28"), 1);
        w.heard.clear();
        w.send(f8e);
        w.setHost(line(57600));
        w.run(500ms);
        const Bytes ee = hexToBytes("46 B9 68 00 06 80 EE 16");
        const Bytes got = w.exchange(stcHostFrame(hexToBytes("80 02 00 36 01 F0 02"), 1), 8, 2s);
        if (off < 0.045) {
            EXPECT_EQ(hexBytes(got), hexBytes(ee));
            EXPECT_TRUE(chip->rejectedFrames().empty());
        } else {
            EXPECT_NE(hexBytes(got), hexBytes(ee));
            EXPECT_FALSE(chip->rejectedFrames().empty()); // garbage recorded, nothing acted on
            for (const auto& f : chip->frames()) EXPECT_FALSE(f.accepted && f.note == "control information");
        }
    }
}

TEST(StcLine, SwitchingTooLateMissesTheAnswer) {
    // The host re-opens its port at the new rate only after the echo has gone.
    auto chip = stc("stc89c52rc");
    VirtualWire w(*chip, line(1200));
    ASSERT_EQ(sync(w, 59).size(), 59u);
    w.heard.clear();
    w.send(stcHostFrame(hexToBytes("8F FF FA 00 14 28 81"), 1));
    w.run(400ms);
    w.setHost(line(57600));
    w.run(400ms);
    EXPECT_NE(hexBytes(w.values()), hexBytes(echoOf(stcHostFrame(hexToBytes("8F FF FA 00 14 28 81"), 1))));
}

TEST(StcLine, EightN1AgainstAnEightE1ChipIsGarbage) {
    auto chip = stc("stc12c5a60s2");
    VirtualWire w(*chip, line(1200, 0));
    const Bytes status = sync(w, 51);
    EXPECT_EQ(status.size(), 51u); // the 7F stream measures the same either way
    w.run(500ms);
    const Bytes got = w.exchange(stcHostFrame(hexToBytes("50 07 00 36 01 D1 7E"), 2), 10, 1s);
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(chip->rejectedFrames().size(), 1u);
    EXPECT_EQ(chip->rejectedFrames()[0].note, "parity or framing error in the frame");
}

TEST(StcFrames, MalformedFramesGetNoAnswerAndAreRecorded) {
    auto chip = stc("stc89c52rc,scale=0");
    VirtualWire w(*chip, line(1200));
    ASSERT_EQ(sync(w, 59).size(), 59u);
    w.run(300ms);
    Bytes good = stcHostFrame(hexToBytes("80 02 00 36 01 F0 02"), 1);
    struct Case {
        Bytes frame;
        const char* note;
    };
    Bytes badSum = good;
    badSum[badSum.size() - 2] ^= 1;
    Bytes badDir = good;
    badDir[2] = 0x68;
    badDir[badDir.size() - 2] = static_cast<uint8_t>(badDir[badDir.size() - 2] - 2);
    Bytes badEnd = good;
    badEnd.back() = 0x17;
    const Case cases[] = {
        {badSum, "checksum"},
        {badDir, "direction 68"},
        {badEnd, "end byte 17"},
        {stcHostFrame(writePayload(0x2000, block(1)), 1), "beyond the 8192-byte flash"},
        {stcHostFrame(hexToBytes("51"), 1), "unknown command 51"},
        {stcHostFrame(hexToBytes("8F"), 1), "without a reload byte"},
    };
    for (const auto& c : cases) {
        chip->clearFrames();
        EXPECT_TRUE(w.exchange(c.frame, 1, 500ms).empty()) << c.note;
        ASSERT_EQ(chip->frames().size(), 1u) << c.note;
        EXPECT_FALSE(chip->frames()[0].accepted);
        EXPECT_EQ(chip->frames()[0].bytes, c.frame);
        EXPECT_NE(chip->frames()[0].note.find(c.note), std::string::npos) << chip->frames()[0].note;
    }
    // A frame cut short is dropped after a pause, and the next one is served.
    chip->clearFrames();
    w.send(Bytes(good.begin(), good.begin() + 6));
    w.run(400ms);
    EXPECT_EQ(hexBytes(w.exchange(good, 8)), "46 B9 68 00 06 80 EE 16");
    ASSERT_EQ(chip->frames().size(), 2u);
    EXPECT_NE(chip->frames()[0].note.find("incomplete"), std::string::npos);
}

// Hosts differ in the bytes real chips do not check; the chip takes them all
// and acts on what it does read: the reload byte, the erase count, the block
// address.  Programming only clears bits.
TEST(StcFrames, EveryHostsVariantIsTakenAsRealChipsTakeIt) {
    auto chip = stc("stc89c52rc,scale=0");
    VirtualWire w(*chip, line(1200));
    ASSERT_EQ(sync(w, 59).size(), 59u);
    w.run(300ms);
    const char* const answered[] = {
        "80 00 00 36 01 F0 02", "80 02 00 36 01 F0 02", "80 02 00 36 01 F0 03", // model code not checked
        "8D FD FF F3 FF",      "8D FF FF FF",                                   // option frames of any length
    };
    for (const char* payload : answered) {
        chip->clearFrames();
        EXPECT_FALSE(w.exchange(stcHostFrame(hexToBytes(payload), 1), 8, 500ms).empty()) << payload;
        ASSERT_EQ(chip->frames().size(), 1u);
        EXPECT_TRUE(chip->frames()[0].accepted) << payload << ": " << chip->frames()[0].note;
    }
    // Rate switches with other check, delay and wait-state bytes: the chip
    // answers 8F at the rate of RR (FA: 57600 at 11.0592 MHz) whatever they are.
    for (const char* payload : {"8F FF FA 00 9C 50", "8F FF FA 00 14 28 81", "8F FF FA 00 F7 80 80"}) {
        w.run(300ms); // what is still coming of the answers before
        w.heard.clear();
        w.send(stcHostFrame(hexToBytes(payload), 1));
        w.setHost(line(57600));
        w.run(400ms);
        EXPECT_EQ(w.values().size(), stcHostFrame(hexToBytes(payload), 1).size()) << payload;
        w.setHost(line(1200));
        w.run(100ms);
    }

    // Flash holding other firmware (all bits cleared): an erase of 4 pages
    // covers 0x000-0x3FF and nothing more.
    std::fill(chip->flash().begin(), chip->flash().end(), 0x00);
    ASSERT_FALSE(w.exchange(stcHostFrame(hexToBytes("84 04 33 33 33 33 33 33"), 1), 8, 1s).empty());
    EXPECT_EQ(chip->erasedBytes(), 1024u);
    EXPECT_EQ(chip->flash()[0x3FF], 0xFF);
    EXPECT_EQ(chip->flash()[0x400], 0x00);
    // Blocks in any order, and a block over unerased flash only clears bits.
    for (uint16_t addr : {0x0100, 0x0000, 0x0400}) {
        const Bytes data = block(static_cast<uint8_t>(addr >> 4));
        const Bytes ack = w.exchange(stcHostFrame(writePayload(addr, data), 1), 9, 1s);
        ASSERT_EQ(ack.size(), 9u) << addr;
        EXPECT_EQ(ack[6], sum8(data));
        for (size_t i = 0; i < 128; ++i)
            EXPECT_EQ(chip->flash()[addr + i], addr < 0x400 ? data[i] : 0x00) << addr << "+" << i;
    }
    EXPECT_NE(chip->frames().back().note.find("did not erase"), std::string::npos);
}

TEST(StcPower, RtsPulseRestartsTheBootloader) {
    auto chip = stc("stc89c52rc,scale=0");
    VirtualWire w(*chip, line(1200));
    ASSERT_EQ(sync(w, 59).size(), 59u);
    w.run(100ms);
    w.exchange(hexToBytes("46B96A000682f216"), 8);
    EXPECT_EQ(chip->state(), StcChip::State::Done);
    EXPECT_TRUE(sync(w, 59, 1000ms).empty()); // the user program runs
    w.setLines(true, false);                   // RTS: power off
    EXPECT_FALSE(chip->powered());
    EXPECT_TRUE(sync(w, 59, 600ms).empty());
    w.setLines(false, false); // power on
    EXPECT_EQ(sync(w, 59).size(), 59u);
    EXPECT_EQ(chip->bootCount(), 2);
}
