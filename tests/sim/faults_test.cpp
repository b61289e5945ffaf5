// Fault injection and chip specs: parsing, reproducibility, and each fault's effect.
#include <gtest/gtest.h>

#include "platform/SimRegistry.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/VirtualWire.h"

using namespace talvo;
using namespace talvo::sim;
using namespace talvo::simtest;

namespace {

Bytes frame(const char* payload) { return stcHostFrame(hexToBytes(payload), 1); }

Bytes writeFrame(uint16_t addr, uint8_t fill) {
    Bytes p = {0x00, 0x00, 0x00, static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr), 0x00, 0x80};
    p.resize(p.size() + 128, fill);
    return stcHostFrame(p, 1);
}

// A simple STC89 host at 1200 -> 57600 baud that resends a block whose answer
// is late, as the real host does.  Returns the number of blocks acknowledged.
int stcSession(VirtualWire& w, int blocks) {
    w.setHost(line(1200));
    w.heard.clear();
    for (int i = 0; i < 200 && w.heard.size() < 59; ++i) {
        if (w.heard.empty()) w.send({0x7F, 0x7F});
        w.run(14ms);
    }
    if (w.heard.size() < 20) return -1;
    w.run(300ms);
    w.heard.clear();
    w.send(frame("8E FF FA 00 14 28"));
    w.setHost(line(57600));
    w.run(400ms);
    if (w.exchange(frame("84 01 33 33 33 33 33 33"), 8, 2s).size() != 8) return -2;
    int acked = 0;
    for (int b = 0; b < blocks; ++b) {
        bool ok = false;
        for (int attempt = 0; attempt < 4 && !ok; ++attempt)
            ok = w.exchange(writeFrame(static_cast<uint16_t>(b * 128), static_cast<uint8_t>(b + 1)), 9, 900ms).size() >= 9;
        if (!ok) break;
        ++acked;
    }
    return acked;
}

} // namespace

TEST(FaultSpec, ParsesAndRejects) {
    FaultSpec f;
    std::string err;
    ASSERT_TRUE(FaultSpec::parse("drop=0.01,silent-after=40,seed=7", &f, &err)) << err;
    EXPECT_DOUBLE_EQ(f.drop, 0.01);
    EXPECT_EQ(f.silentAfter, 40);
    EXPECT_EQ(f.seed, 7u);
    EXPECT_EQ(f.describe(), "drop=0.01,silent-after=40,seed=7");
    EXPECT_FALSE(FaultSpec::parse("drop=2", &f, &err));
    EXPECT_NE(err.find("probability"), std::string::npos);
    EXPECT_FALSE(FaultSpec::parse("explode=1", &f, &err));
    EXPECT_NE(err.find("unknown fault 'explode'"), std::string::npos);
}

TEST(ChipSpec, OptionsAndErrors) {
    std::string err;
    auto chip = makeChip("STC89C52RC,freq=12,clock=6,faults=drop=0.5,seed=9", &err);
    ASSERT_TRUE(chip) << err;
    EXPECT_DOUBLE_EQ(chip->options().freqMHz, 12.0);
    EXPECT_EQ(chip->options().clockMode, 6);
    EXPECT_DOUBLE_EQ(chip->options().faults.drop, 0.5);
    EXPECT_EQ(chip->options().faults.seed, 9u);
    EXPECT_FALSE(makeChip("stc12c5a60s2,clock=6", &err));
    EXPECT_NE(err.find("no 6-clock mode"), std::string::npos);
    EXPECT_FALSE(makeChip("stc89c52rc,freq=abc", &err));
    EXPECT_NE(err.find("freq=abc"), std::string::npos);
    EXPECT_TRUE(makeChip("sim:stm32f103hd", &err)) << err;
    EXPECT_FALSE(makeChip("z80", &err));
    EXPECT_NE(err.find("stm32f103"), std::string::npos);
    for (const auto& e : chipList()) EXPECT_TRUE(makeChip(e.name, &err)) << e.name << ": " << err;
    // The serial layer's hook.
    registerSimulators();
    QString qerr;
    EXPECT_TRUE(makeSimPeer(QStringLiteral("loopback"), &qerr));
    EXPECT_FALSE(makeSimPeer(QStringLiteral("nochip"), &qerr));
    EXPECT_TRUE(qerr.contains(QStringLiteral("nochip")));
}

TEST(Faults, SameSeedSameRun) {
    auto run = [](const std::string& faults) {
        auto chip = stc("stc89c52rc," + faults);
        VirtualWire w(*chip, line(1200));
        std::vector<std::string> log;
        chip->setTrace([&](const std::string& s) { log.push_back(s); });
        const int acked = stcSession(w, 12);
        std::string out = std::to_string(acked) + "|";
        for (const auto& f : chip->frames()) out += hexBytes(f.bytes) + (f.accepted ? "+" : "-") + f.note + "|";
        for (const auto& l : log) out += l + "\n";
        return out;
    };
    const std::string a = run("drop=0.002,corrupt=0.002,seed=7");
    EXPECT_EQ(a, run("drop=0.002,corrupt=0.002,seed=7"));
    EXPECT_NE(a, run("drop=0.002,corrupt=0.002,seed=8"));
    EXPECT_NE(a.find("fault:"), std::string::npos); // the faults did strike
}

TEST(Faults, SilentAfterN) {
    auto chip = stc("stc89c52rc,silent-after=3");
    VirtualWire w(*chip, line(1200));
    EXPECT_EQ(stcSession(w, 4), 1); // 8E, erase and block 0 answered, then nothing
}

TEST(Faults, RefusedBlockIsServedOnResend) {
    auto chip = stc("stc89c52rc,nack-block=2");
    VirtualWire w(*chip, line(1200));
    EXPECT_EQ(stcSession(w, 4), 4);
    int block1 = 0;
    for (const auto& f : chip->frames())
        if (f.bytes.size() == 142 && f.bytes[8] == 0x00 && f.bytes[9] == 0x80) ++block1;
    EXPECT_EQ(block1, 2);
}

TEST(Faults, DelayedAnswers) {
    auto chip = stc("stc89c52rc,delay=0.5,scale=0,switchfloor=0");
    VirtualWire w(*chip, line(1200));
    w.send({0x7F, 0x7F});
    const TimePoint t = w.now();
    w.run(2s);
    ASSERT_FALSE(w.heard.empty());
    EXPECT_GE(w.heard.front().at - t, 500ms);
}

TEST(Faults, DelayFromTheNthFrameLeavesEarlierAnswersOnTime) {
    auto chip = stc("stc89c52rc,delay=0.5,delay-from=2,scale=0,switchfloor=0");
    VirtualWire w(*chip, line(1200));
    ASSERT_EQ(sync(w, 59).size(), 59u); // the status frame is not late
    w.run(300ms);
    const Bytes control = stcHostFrame(hexToBytes("80 02 00 36 01 F0 02"), 1);
    auto answerTime = [&] {
        w.heard.clear();
        w.send(control);
        const TimePoint sent = w.now();
        w.run(2s);
        EXPECT_EQ(w.heard.size(), 8u);
        return w.heard.empty() ? 0s : std::chrono::duration_cast<std::chrono::nanoseconds>(w.heard.front().at - sent);
    };
    EXPECT_LT(answerTime(), 100ms); // frame 1
    EXPECT_GE(answerTime(), 500ms); // frame 2
}

TEST(Faults, HangUpMidDownloadThenTheNextSessionIsServed) {
    auto chip = stc("stc89c52rc,hangup-block=3");
    VirtualWire w(*chip, line(1200));
    EXPECT_EQ(stcSession(w, 6), 2);
    EXPECT_EQ(w.hangUps, 1);
    EXPECT_FALSE(chip->powered());
    w.open(false);
    w.open(true); // the converter is plugged in again
    EXPECT_TRUE(chip->powered());
    EXPECT_EQ(stcSession(w, 6), 6);
    EXPECT_EQ(chip->flash()[5 * 128], 6);
}

TEST(Power, PtyModeStartsOnOpenAndAfterIdle) {
    auto chip = stc("stc89c52rc,idle=1");
    chip->setPtyMode(true);
    VirtualWire w(*chip, line(1200));
    w.open(true);
    EXPECT_EQ(stcSession(w, 1), 1);
    w.open(false);
    w.run(600ms); // the port stays closed
    EXPECT_FALSE(chip->powered());
    w.open(true);
    EXPECT_EQ(stcSession(w, 1), 1);
    const int boots = chip->bootCount();
    w.run(1500ms); // idle: the chip restarts by itself
    EXPECT_EQ(chip->bootCount(), boots + 1);
    EXPECT_EQ(stcSession(w, 1), 1);
}

TEST(Power, PtyReopenDuringTheRateSwitchKeepsTheSession) {
    // The host sends 8F at 1200, closes its port and opens it again at the new
    // rate for the answer, then does the same around 8E: a board is not reset
    // by that, so both echoes come and the chip stays at the new rate.
    auto chip = stc("stc89c52rc");
    chip->setPtyMode(true);
    VirtualWire w(*chip, line(1200));
    w.open(true);
    const int boots = chip->bootCount();
    w.heard.clear();
    for (int i = 0; i < 200 && w.heard.size() < 59; ++i) {
        if (w.heard.empty()) w.send({0x7F, 0x7F});
        w.run(14ms);
    }
    ASSERT_EQ(w.heard.size(), 59u);
    w.run(700ms);
    auto reopenAt = [&](uint32_t baud, std::chrono::milliseconds pause) {
        w.open(false);
        w.run(pause);
        w.setHost(line(baud));
        w.open(true);
    };
    // Sends a switch frame at 1200 and re-opens at 57600 for its echo.
    auto switchStep = [&](const char* payload, std::chrono::milliseconds pause) {
        reopenAt(1200, 20ms);
        const Bytes p = hexToBytes(payload);
        w.heard.clear();
        w.send(stcHostFrame(p, 1));
        reopenAt(57600, pause);
        w.run(500ms);
        return hexBytes(w.values()) == hexBytes(chip->frame(p));
    };
    EXPECT_TRUE(switchStep("8F FF FA 00 14 28 81", 20ms));
    EXPECT_TRUE(switchStep("8E FF FA 00 14 28", 50ms));
    EXPECT_EQ(hexBytes(w.exchange(frame("80 02 00 36 01 F0 02"), 8, 2s)), "46 B9 68 00 06 80 EE 16");
    EXPECT_EQ(chip->bootCount(), boots);
    EXPECT_TRUE(chip->rejectedFrames().empty());

    // A port that stays closed switches the chip off; the next open starts it afresh.
    w.open(false);
    w.run(1s);
    EXPECT_FALSE(chip->powered());
    reopenAt(1200, 0ms);
    EXPECT_EQ(chip->bootCount(), boots + 1);
    EXPECT_EQ(stcSession(w, 1), 1);
}

// A bit flipped on the line: an 8E1 receiver sees a parity error and drops
// the frame before its checksum is even looked at; without parity only the
// checksum can tell.
TEST(Faults, FlippedBitsShowAsParityErrorsOnEvenParityLines) {
    auto rejections = [](const std::string& selector, uint8_t parity, const Bytes& frame) {
        auto chip = stc(selector);
        VirtualWire w(*chip, line(1200, parity));
        sync(w, 51);
        w.run(1s);
        for (int i = 0; i < 40; ++i) w.exchange(frame, 8, 300ms);
        std::string notes;
        for (const auto& f : chip->rejectedFrames()) notes += f.note + "|";
        return notes;
    };
    const std::string even =
        rejections("stc12c5a60s2,corrupt=0.02,seed=4", 2, stcHostFrame(hexToBytes("50 07 00 36 01 D1 7E"), 2));
    EXPECT_NE(even.find("parity"), std::string::npos) << even;
    EXPECT_EQ(even.find("checksum"), std::string::npos) << even;
    const std::string none =
        rejections("stc89c52rc,corrupt=0.02,seed=4", 0, stcHostFrame(hexToBytes("80 02 00 36 01 F0 02"), 1));
    EXPECT_NE(none.find("checksum"), std::string::npos) << none;
}
