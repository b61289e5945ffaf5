// STC frames: the builder against the worked examples, the block cutter,
// and the decoder of the chip's frames.
#include <gtest/gtest.h>

#include "common/QtPrinters.h"
#include "protocol/StcClock.h"
#include "protocol/StcFamily.h"
#include "protocol/StcFrame.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {
QByteArray hex(const char* text) { return QByteArray::fromHex(text); }
} // namespace

TEST(StcFrame, WorkedExamples) {
    struct Case {
        uint8_t command;
        const char* data;
        int form;
        const char* frame;
    };
    const Case cases[] = {
        {0x82, "", 1, "46B96A000682f216"},
        {0x8D, "FDFFF3FF", 1, "46B96A000a8DFDFFF3FFef16"},
        {0x69, "07003601D17E", 2, "46B96A000d6907003601D17E026d16"},
        {0x84, "01333333333333", 1, "46B96A000d8401333333333333" "2e16"},
        {0x82, "", 3, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildFrame(c.command, hex(c.data), c.form), hex(c.frame)) << c.command;
    EXPECT_EQ(Checksum(hex("6A000682"), 1), 0xf2);
    EXPECT_EQ(Checksum(hex("6A000682"), 2), 0x00f2);
    EXPECT_EQ(Checksum(hex("6A008C84FF00"), 1), (0x6A + 0x8C + 0x84 + 0xFF) & 0xFF);
    EXPECT_EQ(Checksum(hex("6A008C84FF00"), 2), 0x6A + 0x8C + 0x84 + 0xFF);
}

TEST(StcFrame, FixedEraseAndWriteFrames) {
    // The two-byte families' stored erase frame, F0 pages.
    const char* stored =
        "46B96A008C84FF00F00000F0000000000000000000000000807F7E7D7C7B7A797877767574737271706F6E6D6C6B6A69686766"
        "6564636261605F5E5D5C5B5A595857565554535251504F4E4D4C4B4A494847464544434241403F3E3D3C3B3A39383736353433"
        "3231302F2E2D2C2B2A292827262524232221201F1E1D1C1B1A191817161514131211100F0E243E16";
    EXPECT_EQ(StcTwoByteEraseFrame(), hex(stored));
    // Write frames: length 8C / 8D, address high byte first, checksums as the forms say.
    const QByteArray block(128, '\x5A');
    const QByteArray f1 = BuildWriteFrame(0x0180, block, 1);
    const QByteArray f2 = BuildWriteFrame(0x0180, block, 2);
    ASSERT_EQ(f1.size(), 142);
    ASSERT_EQ(f2.size(), 143);
    EXPECT_EQ(f1.left(12), hex("46B96A008C00000001800080"));
    EXPECT_EQ(f2.left(12), hex("46B96A008D00000001800080"));
    unsigned sum = 0;
    for (int i = 2; i < 140; ++i) sum += static_cast<uint8_t>(f1[i]);
    EXPECT_EQ(static_cast<uint8_t>(f1[140]), sum & 0xFF);
    sum += 1; // the 8D length byte of form 2
    EXPECT_EQ((static_cast<uint8_t>(f2[140]) << 8) | static_cast<uint8_t>(f2[141]), sum & 0xFFFF);
    // Erase counts: the bytes written from address 0, in 256-byte pages, pairs of them.
    const std::pair<int, int> pages[] = {{128, 2}, {512, 2}, {513, 4}, {3072, 12}, {65408, 0xFF}, {0, 2}};
    for (auto [bytes, count] : pages) EXPECT_EQ(StcErasePages(bytes), count) << bytes;
}

// The cutter of every STC download: blocks of the family's size from
// address 0, the last padded with zeros, then a block of zeros.
TEST(StcBlocks, ImagesOfEverySizeAroundTheBlockEdges) {
    for (int size : {0, 1, 127, 128, 129, 255, 256, 300, 4096, 65408}) {
        SCOPED_TRACE(size);
        QByteArray image(size, '\0');
        for (int i = 0; i < size; ++i) image[i] = static_cast<char>(1 + i % 251);
        const std::vector<QByteArray> blocks = StcBlocks(image, 128);
        ASSERT_EQ(blocks.size(), static_cast<size_t>((size + 127) / 128 + 1));
        QByteArray joined;
        for (const QByteArray& b : blocks) {
            EXPECT_EQ(b.size(), 128);
            joined += b;
        }
        EXPECT_EQ(joined.left(size), image);
        EXPECT_EQ(joined.mid(size), QByteArray(joined.size() - size, '\0'));
    }
    // Every family row cuts at its own block size.
    for (const StcFamily& f : StcFamilies()) EXPECT_EQ(StcBlocks(QByteArray(300, 1), f.blockSize)[0].size(), f.blockSize);
}

TEST(StcDecoder, FindsWholeFramesAcrossChunksAndSaysWhyOthersAreRefused) {
    const QByteArray ack = hex("46B968000780" "5A" "4916"); // 80 5A answer, form 1
    ASSERT_EQ(static_cast<uint8_t>(ack[7]), (0x68 + 0x07 + 0x80 + 0x5A) & 0xFF);
    // Noise before it, and the frame arriving in two pieces.
    const QByteArray noisy = hex("7F7F0016") + ack;
    StcScan scan = ScanStcFrames(noisy.left(7), 1);
    EXPECT_TRUE(scan.frames.empty());
    EXPECT_TRUE(scan.partial);
    scan = ScanStcFrames(noisy, 1);
    ASSERT_EQ(scan.frames.size(), 1u);
    EXPECT_EQ(scan.frames[0].payload, hex("805A"));
    EXPECT_EQ(scan.frames[0].offset, 4);

    struct Bad {
        QByteArray bytes;
        const char* why;
    };
    QByteArray badSum = ack, badEnd = ack;
    badSum[7] = 0;
    badEnd[8] = 0x17;
    const Bad bad[] = {{badSum, "checksum 00, expected 49"}, {badEnd, "end byte 17"},
                       {hex("46B9680200"), "length field 512"}};
    for (const Bad& b : bad) {
        scan = ScanStcFrames(b.bytes + QByteArray(300, '\0'), 1);
        EXPECT_TRUE(scan.frames.empty()) << b.why;
        EXPECT_TRUE(scan.rejected.contains(b.why)) << scan.rejected.toStdString();
    }
    // A form-2 frame does not pass as form 1, and the reverse.
    const QByteArray two = hex("46B968000950" "8CFF" "024C16");
    EXPECT_EQ(ScanStcFrames(two, 2).frames.size(), 1u);
    EXPECT_TRUE(ScanStcFrames(two, 1).frames.empty());
}

TEST(StcDecoder, StatusFramesInBothFormsAndCutShort) {
    // The captured STC89C52RC status frame (no 46 B9) and STC12C5A60S2's (with them).
    const QByteArray stc89 = hex("68003B0025E625E625E625E625E625E625E225E64343FCF00282") + QByteArray(31, '\0') + hex("ED16");
    const QByteArray stc12 = hex("46B96800315004BD04BC04BC04BD04BC04BC04BC04BC6249" "00D17E8CFF7FF7FFFFFF00000003"
                                 "00B0022E6B00CD80000011" "7E16");
    StcScan scan = ScanStcFrames(stc89, 1, true);
    ASSERT_EQ(scan.frames.size(), 1u);
    auto s = ReadStcStatus(scan.frames[0]);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->counts, std::vector<uint16_t>({0x25E6, 0x25E6, 0x25E6, 0x25E6, 0x25E6, 0x25E6, 0x25E2, 0x25E6}));
    EXPECT_EQ(s->version, 0x43);
    EXPECT_EQ(s->stepping, 'C');
    EXPECT_EQ(s->modelCode(), 0xF002);
    EXPECT_TRUE(s->sixClockMarker());
    EXPECT_EQ(VersionLine(s->version, s->stepping), "MCU Version:4.3C");
    EXPECT_TRUE(ScanStcFrames(stc89, 1, false).frames.empty()) << "without 46 B9 only as a status frame";

    scan = ScanStcFrames(stc12, 2, true);
    ASSERT_EQ(scan.frames.size(), 1u);
    s = ReadStcStatus(scan.frames[0]);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->modelCode(), 0xD17E);
    EXPECT_FALSE(s->sixClockMarker());
    EXPECT_EQ(VersionLine(s->version, s->stepping), "MCU Version:6.2I");
    EXPECT_EQ(VersionLine(0x4A, 0), "MCU Version:4.a");
    EXPECT_EQ(s->counts[0], 0x04BD);

    // Cut short anywhere: no frame, never a half-read status.
    for (int n = 1; n < stc89.size(); ++n)
        EXPECT_TRUE(ScanStcFrames(stc89.left(n), 1, true).frames.empty()) << n;
    // A frame too short to hold eight counts and a model code is no status.
    StcChipFrame tiny;
    tiny.payload = hex("00" "0102030405060708");
    EXPECT_FALSE(ReadStcStatus(tiny));
}
