// STM32F103 system bootloader simulator: the USART protocol and its ACK/NACK rules.
#include <gtest/gtest.h>

#include "sim/Simulators.h"
#include "sim/Stm32Chip.h"
#include "sim/VirtualWire.h"

using namespace talvo;
using namespace talvo::sim;
using namespace talvo::simtest;

namespace {

std::unique_ptr<Stm32Chip> stm32(const std::string& selector) { return makeAs<Stm32Chip>(selector); }

Bytes withXor(Bytes b) {
    uint8_t x = 0;
    for (auto v : b) x ^= v;
    b.push_back(x);
    return b;
}

Bytes addr(uint32_t a) {
    return withXor({static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 8),
                    static_cast<uint8_t>(a)});
}

struct Session {
    std::unique_ptr<Stm32Chip> chip;
    std::unique_ptr<VirtualWire> w;
    explicit Session(const std::string& selector) : chip(stm32(selector)), w(new VirtualWire(*chip, line(115200, 2))) {
        EXPECT_EQ(hexBytes(w->exchange({0x7F}, 1)), "79");
    }
    Bytes cmd(uint8_t c, size_t n) { return w->exchange({c, static_cast<uint8_t>(~c)}, n, 1s); }
    bool write(uint32_t a, const Bytes& data) {
        if (cmd(0x31, 1) != Bytes{0x79}) return false;
        if (w->exchange(addr(a), 1, 1s) != Bytes{0x79}) return false;
        Bytes d = {static_cast<uint8_t>(data.size() - 1)};
        d.insert(d.end(), data.begin(), data.end());
        return w->exchange(withXor(d), 1, 1s) == Bytes{0x79};
    }
    Bytes read(uint32_t a, size_t n) {
        if (cmd(0x11, 1) != Bytes{0x79}) return {};
        if (w->exchange(addr(a), 1, 1s) != Bytes{0x79}) return {};
        const Bytes r = w->exchange({static_cast<uint8_t>(n - 1), static_cast<uint8_t>(~(n - 1))}, n + 1, 1s);
        if (r.empty() || r[0] != 0x79) return {};
        return Bytes(r.begin() + 1, r.end());
    }
};

} // namespace

TEST(Stm32, IdentificationCommands) {
    Session s("stm32f103");
    EXPECT_EQ(hexBytes(s.w->exchange({0x7F}, 1)), "1F"); // a second 7F is a command byte
    EXPECT_EQ(hexBytes(s.cmd(0x00, 15)), "79 0B 22 00 01 02 11 21 31 43 63 73 82 92 79");
    EXPECT_EQ(hexBytes(s.cmd(0x01, 5)), "79 22 00 00 79");
    EXPECT_EQ(hexBytes(s.cmd(0x02, 5)), "79 01 04 10 79");
    EXPECT_EQ(hexBytes(s.read(0x1FFFF7E0, 4)), "40 00 FF FF"); // 64 KB, then the reserved half-word
    Session hd("stm32f103hd");
    EXPECT_EQ(hexBytes(hd.cmd(0x02, 5)), "79 01 04 14 79");
    EXPECT_EQ(hexBytes(hd.read(0x1FFFF7E0, 4)), "00 01 FF FF"); // 256 KB
}

TEST(Stm32, EraseWriteReadBack) {
    Session s("stm32f103");
    s.chip->flash()[5] = 0x00;
    s.chip->flash()[3 * 1024] = 0x00; // page 3 stays as it is
    ASSERT_EQ(s.cmd(0x43, 1), Bytes{0x79});
    const TimePoint t0 = s.w->now();
    EXPECT_EQ(hexBytes(s.w->exchange(hexToBytes("02 00 01 02 01"), 1, 1s)), "79");
    const double took = std::chrono::duration<double>(s.w->heard[0].at - t0).count();
    EXPECT_GT(took, 3 * 0.020);
    EXPECT_LT(took, 3 * 0.040 + 0.01);
    EXPECT_EQ(s.chip->flash()[5], 0xFF);
    EXPECT_EQ(s.chip->flash()[3 * 1024], 0x00);

    Bytes data(256);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3 + 1);
    ASSERT_TRUE(s.write(0x08000000, data));
    Bytes tail(184, 0x5A);
    ASSERT_TRUE(s.write(0x08000100, tail));
    EXPECT_EQ(s.read(0x08000000, 256), data);
    EXPECT_EQ(s.read(0x08000100, 184), tail);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), s.chip->flash().begin()));
    EXPECT_TRUE(s.chip->rejectedFrames().empty());

    // Global erase.
    ASSERT_EQ(s.cmd(0x43, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange({0xFF, 0x00}, 1, 1s)), "79");
    EXPECT_EQ(s.chip->flash()[3 * 1024], 0xFF);
}

TEST(Stm32, F030OffersExtendedEraseOnly) {
    Session s("stm32f030");
    EXPECT_EQ(hexBytes(s.cmd(0x00, 15)), "79 0B 31 00 01 02 11 21 31 44 63 73 82 92 79");
    EXPECT_EQ(hexBytes(s.cmd(0x01, 5)), "79 31 00 00 79");
    EXPECT_EQ(hexBytes(s.cmd(0x02, 5)), "79 01 04 40 79");
    EXPECT_EQ(hexBytes(s.read(0x1FFFF7CC, 4)), "40 00 FF FF"); // 64 KB
    EXPECT_NE(hexBytes(s.read(0x1FFFF7E0, 2)), "40 00");     // the F1 address holds bootloader code here
    EXPECT_EQ(hexBytes(s.cmd(0x43, 1)), "1F");
    s.chip->flash()[1024] = 0x00;
    s.chip->flash()[2048] = 0x00;
    // Pages 0 and 1 as two-byte numbers, then the XOR.
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 0x01, 0x00, 0x00, 0x00, 0x01}), 1, 1s)), "79");
    EXPECT_EQ(s.chip->flash()[1024], 0xFF);
    EXPECT_EQ(s.chip->flash()[2048], 0x00);
    // A page beyond the flash, a bank erase (one bank only), a bad checksum.
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 0x00, 0x00, 0x40}), 1, 1s)), "1F");
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0xFF, 0xFE}), 1, 1s)), "1F");
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(Bytes{0x00, 0x00, 0x00, 0x02, 0x00}, 1, 1s)), "1F");
    // Mass erase.
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0xFF, 0xFF}), 1, 1s)), "79");
    EXPECT_EQ(s.chip->flash()[2048], 0xFF);
}

TEST(Stm32, BadWordIsStoredWronglyButAcknowledged) {
    Session s("stm32f103,scale=0,bad-word=66"); // the second word of the second block
    Bytes data(256, 0x5A);
    ASSERT_TRUE(s.write(0x08000000, data));
    ASSERT_TRUE(s.write(0x08000100, data));
    ASSERT_TRUE(s.write(0x08000200, data)); // once per run
    const Bytes back = s.read(0x08000100, 8);
    EXPECT_EQ(hexBytes(back), "5A 5A 5A 5A 5B 5A 5A 5A");
    EXPECT_EQ(s.read(0x08000200, 256), data);
}

TEST(Stm32, NackRules) {
    Session s("stm32f103,scale=0");
    // Wrong complement, unknown command: NACK and back to waiting for a command.
    EXPECT_EQ(hexBytes(s.w->exchange({0x00, 0x00}, 1, 1s)), "1F");
    EXPECT_EQ(hexBytes(s.cmd(0x44, 1)), "1F"); // F1 parts have no extended erase
    // Address with a bad checksum.
    ASSERT_EQ(s.cmd(0x11, 1), Bytes{0x79});
    Bytes bad = addr(0x08000000);
    bad[4] ^= 1;
    EXPECT_EQ(hexBytes(s.w->exchange(bad, 1, 1s)), "1F");
    // Unreadable address; a read running off the end of the flash.
    ASSERT_EQ(s.cmd(0x11, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(addr(0x30000000), 1, 1s)), "1F");
    ASSERT_EQ(s.cmd(0x11, 1), Bytes{0x79});
    ASSERT_EQ(s.w->exchange(addr(0x0800FF80), 1, 1s), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange({0xFF, 0x00}, 1, 1s)), "1F");
    // Misaligned flash address; a count that is not a multiple of 4; bad data checksum.
    ASSERT_EQ(s.cmd(0x31, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(addr(0x08000002), 1, 1s)), "1F");
    EXPECT_FALSE(s.write(0x08000000, Bytes(6, 0x11)));
    ASSERT_EQ(s.cmd(0x31, 1), Bytes{0x79});
    ASSERT_EQ(s.w->exchange(addr(0x08000000), 1, 1s), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange({0x03, 1, 2, 3, 4, 0x00}, 1, 1s)), "1F");
    // Programming over data that is not erased.
    ASSERT_TRUE(s.write(0x08000000, {1, 2, 3, 4}));
    EXPECT_FALSE(s.write(0x08000000, {5, 6, 7, 8}));
    // Page that does not exist.
    ASSERT_EQ(s.cmd(0x43, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 64}), 1, 1s)), "1F");
    // Still serving.
    EXPECT_EQ(hexBytes(s.cmd(0x01, 5)), "79 22 00 00 79");
    EXPECT_EQ(s.read(0x08000000, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_GE(s.chip->rejectedFrames().size(), 9u);
}

TEST(Stm32, GoRunsTheUserProgramUntilReset) {
    Session s("stm32f103,scale=0");
    ASSERT_EQ(s.cmd(0x21, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(addr(0x08000000), 1, 1s)), "79");
    EXPECT_TRUE(s.chip->runningUserCode());
    EXPECT_TRUE(s.w->exchange({0x7F}, 1, 200ms).empty());
    // The boards' sequence: RTS (BOOT0) and DTR (RESET) asserted, then DTR released.
    s.w->setLines(true, true);
    s.w->run(500ms);
    s.w->setLines(true, false);
    EXPECT_EQ(hexBytes(s.w->exchange({0x7F}, 1, 200ms)), "79");
    // With BOOT0 low the reset starts the user program instead.
    s.w->setLines(false, true);
    s.w->setLines(false, false);
    EXPECT_TRUE(s.w->exchange({0x7F}, 1, 200ms).empty());
}

TEST(Stm32, ReadoutProtection) {
    Session s("stm32f103,scale=0");
    ASSERT_TRUE(s.write(0x08000000, {1, 2, 3, 4}));
    EXPECT_EQ(hexBytes(s.cmd(0x82, 2)), "79 79");
    EXPECT_EQ(hexBytes(s.w->exchange({0x7F}, 1)), "79"); // the chip reset itself
    EXPECT_EQ(hexBytes(s.cmd(0x11, 1)), "1F");
    EXPECT_EQ(hexBytes(s.cmd(0x92, 2)), "79 79");
    EXPECT_EQ(hexBytes(s.w->exchange({0x7F}, 1)), "79");
    EXPECT_EQ(s.read(0x08000000, 4), Bytes(4, 0xFF));
}

TEST(Stm32, NewerChipsIdentifyThemselves) {
    const struct {
        const char* chip;
        const char* id;
        uint32_t sizeAt;
        const char* size;
    } rows[] = {
        {"stm32f401", "79 01 04 23 79", 0x1FFF7A22, "00 01"}, // 256 KB
        {"stm32g071", "79 01 04 60 79", 0x1FFF75E0, "80 00"}, // 128 KB
        {"stm32l431", "79 01 04 35 79", 0x1FFF75E0, "00 01"}, // 256 KB
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.chip);
        Session s(r.chip);
        EXPECT_EQ(hexBytes(s.cmd(0x00, 15)), "79 0B 31 00 01 02 11 21 31 44 63 73 82 92 79");
        EXPECT_EQ(hexBytes(s.cmd(0x02, 5)), r.id);
        EXPECT_EQ(hexBytes(s.read(r.sizeAt, 2)), r.size);
        EXPECT_EQ(hexBytes(s.cmd(0x43, 1)), "1F"); // Extended Erase only
    }
    // The F401's device data ends with its flash size: a read beyond is refused.
    Session f4("stm32f401");
    EXPECT_TRUE(f4.read(0x1FFF7A22, 4).empty());
}

TEST(Stm32, F401ErasesSectorsAndProgramsBytes) {
    Session s("stm32f401,scale=0");
    auto& flash = s.chip->flash();
    std::fill(flash.begin(), flash.end(), 0x00);
    // Sector 4 (64 KB at 0x08010000) and sector 5 (128 KB at 0x08020000).
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 0x00, 0x00, 0x04}), 1, 1s)), "79");
    EXPECT_EQ(flash[0x0FFFF], 0x00);
    EXPECT_EQ(flash[0x10000], 0xFF);
    EXPECT_EQ(flash[0x1FFFF], 0xFF);
    EXPECT_EQ(flash[0x20000], 0x00);
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 0x00, 0x00, 0x05}), 1, 3s)), "79");
    EXPECT_EQ(flash[0x3FFFF], 0xFF);
    // A sector that does not exist.
    ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
    EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 0x00, 0x00, 0x06}), 1, 1s)), "1F");
    // Programming clears bits only: written over 0x0F, 0xF3 leaves 0x03.
    ASSERT_TRUE(s.write(0x08010000, {0x0F, 0xFF, 0xAA, 0x55}));
    ASSERT_TRUE(s.write(0x08010000, {0xF3, 0x0F, 0xFF, 0xFF}));
    EXPECT_EQ(hexBytes(s.read(0x08010000, 4)), "03 0F AA 55");
    // Sectors take their time: 0.4 s for 16 KB, 2 s for 128 KB.
    Session timed("stm32f401");
    ASSERT_EQ(timed.cmd(0x44, 1), Bytes{0x79});
    const TimePoint t0 = timed.w->now();
    EXPECT_EQ(hexBytes(timed.w->exchange(withXor({0x00, 0x01, 0x00, 0x00, 0x00, 0x05}), 1, 5s)), "79");
    EXPECT_GT(std::chrono::duration<double>(timed.w->heard[0].at - t0).count(), 2.4);
}

TEST(Stm32, EightByteWriteUnitAndDoubleWordsWithTheirEcc) {
    for (const char* chip : {"stm32g071,scale=0", "stm32l431,scale=0"}) {
        SCOPED_TRACE(chip);
        Session s(chip);
        // Aligned to eight bytes, a multiple of eight.
        ASSERT_EQ(s.cmd(0x31, 1), Bytes{0x79});
        EXPECT_EQ(hexBytes(s.w->exchange(addr(0x08000004), 1, 1s)), "1F");
        EXPECT_FALSE(s.write(0x08000000, Bytes(12, 0x11)));
        ASSERT_TRUE(s.write(0x08000000, Bytes(16, 0x11)));
        // A double word is written once; only zeros go over it again.
        EXPECT_FALSE(s.write(0x08000008, Bytes(8, 0x01)));
        EXPECT_TRUE(s.write(0x08000008, Bytes(8, 0x00)));
        EXPECT_EQ(hexBytes(s.read(0x08000000, 16)), "11 11 11 11 11 11 11 11 00 00 00 00 00 00 00 00");
        // 2 KB pages.
        s.chip->flash()[2048] = 0x00;
        ASSERT_EQ(s.cmd(0x44, 1), Bytes{0x79});
        EXPECT_EQ(hexBytes(s.w->exchange(withXor({0x00, 0x00, 0x00, 0x00}), 1, 1s)), "79");
        EXPECT_EQ(s.read(0x08000000, 16), Bytes(16, 0xFF));
        EXPECT_EQ(s.chip->flash()[2048], 0x00);
    }
}

TEST(Stm32, ReadProtectedFromTheStart) {
    for (const char* chip : {"stm32f103,rdp,scale=0", "stm32f401,rdp,scale=0", "stm32g071,rdp,scale=0"}) {
        SCOPED_TRACE(chip);
        Session s(chip);
        ASSERT_TRUE(s.chip->readoutProtected());
        s.chip->flash()[0] = 0x12;
        // Identification is served; memory access, erase, Go and protection changes are not.
        EXPECT_EQ(hexBytes(s.cmd(0x01, 5)).substr(0, 2), "79");
        EXPECT_EQ(hexBytes(s.cmd(0x02, 5)).substr(0, 2), "79");
        for (uint8_t code : {0x11, 0x21, 0x31, 0x44, 0x63, 0x73, 0x82}) {
            if (code == 0x44 && std::string(chip).rfind("stm32f103", 0) == 0) code = 0x43;
            EXPECT_EQ(hexBytes(s.cmd(code, 1)), "1F") << std::hex << int(code);
        }
        EXPECT_EQ(s.chip->flash()[0], 0x12);
        // Readout Unprotect: erases the flash, drops the protection, resets.
        EXPECT_EQ(hexBytes(s.cmd(0x92, 2)), "79 79");
        EXPECT_FALSE(s.chip->readoutProtected());
        EXPECT_EQ(s.chip->flash()[0], 0xFF);
        EXPECT_EQ(hexBytes(s.w->exchange({0x7F}, 1)), "79");
        EXPECT_EQ(s.read(0x08000000, 4), Bytes(4, 0xFF));
    }
    std::string error;
    EXPECT_FALSE(makeChip("stc89c52rc,rdp", &error));
    EXPECT_EQ(error, "option 'rdp' (readout protection) applies to the STM32 simulators only");
}

TEST(Stm32, EightN1IsHeardWithParityErrors) {
    auto chip = stm32("stm32f103,scale=0");
    VirtualWire w(*chip, line(115200, 0));
    // 7F has seven ones, so its even-parity bit is high like a stop bit: the init works.
    EXPECT_EQ(hexBytes(w.exchange({0x7F}, 1)), "79");
    EXPECT_EQ(hexBytes(w.exchange({0x00, 0xFF}, 1, 200ms)), "1F");
}

TEST(Loopback, EchoesEveryByte) {
    std::string err;
    auto chip = makeChip("loopback", &err);
    ASSERT_TRUE(chip) << err;
    VirtualWire w(*chip, line(57600));
    Bytes data(512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(w.exchange(data, 512), data);
}
