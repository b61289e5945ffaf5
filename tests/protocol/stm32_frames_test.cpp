// The pure pieces of the STM32 download: the bytes of each step, the erase
// extent, the progress positions and the identification lines.
#include <gtest/gtest.h>

#include "protocol/Stm32Frames.h"
#include "protocol/Stm32Parts.h"

using namespace talvo::protocol;

namespace {
std::string hex(const QByteArray& b) { return b.toHex().toStdString(); }
} // namespace

TEST(Stm32Frames, BytesOfEachStep) {
    const struct {
        QByteArray bytes;
        const char* hex;
    } rows[] = {
        {Stm32CommandBytes(Stm32Code::Get), "00ff"},
        {Stm32CommandBytes(Stm32Code::GetId), "02fd"},
        {Stm32CommandBytes(Stm32Code::ReadMemory), "11ee"},
        {Stm32CommandBytes(Stm32Code::WriteMemory), "31ce"},
        {Stm32CommandBytes(Stm32Code::Erase), "43bc"},
        {Stm32CommandBytes(Stm32Code::ExtendedErase), "44bb"},
        {Stm32AddressFrame(0x1FFFF7E0), "1ffff7e0f7"},
        {Stm32AddressFrame(0x1FFFF7CC), "1ffff7ccdb"},
        {Stm32AddressFrame(0x08000B00), "08000b0003"},
        {Stm32ReadCountFrame(4), "03fc"},
        {Stm32ReadCountFrame(256), "ff00"},
        // 3000 bytes: three pages, XOR 01; pages 16 to 18 behind a 16 KB bootloader.
        {Stm32PageList(0, 3), "0200010201"},
        {Stm32PageList(16, 3), "0210111211"},
        {Stm32ExtendedPageList(0, 3), "000200000001000201"},
        {Stm32ExtendedPageList(16, 2), "00010010001100"},
        {Stm32DataFrame(QByteArray::fromHex("01020304")), "030102030407"},
        {Stm32PadTo(QByteArray::fromHex("aabbcc"), 4), "aabbccff"},
        {Stm32PadTo(QByteArray::fromHex("aabbccdd11"), 8), "aabbccdd11ffffff"},
        {Stm32PadTo(QByteArray(184, '\x11'), 4).left(1), "11"},
        {Stm32MassEraseFrame(false), "ff00"},
        {Stm32MassEraseFrame(true), "ffff00"},
        {Stm32CommandBytes(Stm32Code::Go), "21de"},
        {Stm32CommandBytes(Stm32Code::ReadoutProtect), "827d"},
        {Stm32CommandBytes(Stm32Code::ReadoutUnprotect), "926d"},
    };
    for (const auto& r : rows) EXPECT_EQ(hex(r.bytes), r.hex);
    EXPECT_EQ(Stm32PadTo(QByteArray(184, '\x11'), 4).size(), 184);
    EXPECT_EQ(Stm32PadTo(QByteArray(185, '\x11'), 4).size(), 188);
    EXPECT_EQ(Stm32PadTo(QByteArray(185, '\x11'), 32).size(), 192);
    // The last block of the 3000-byte example: count byte B7.
    EXPECT_EQ(static_cast<uint8_t>(Stm32DataFrame(QByteArray(184, '\0'))[0]), 0xB7);
    EXPECT_EQ(XorChecksum(QByteArray::fromHex("b7") + QByteArray(184, '\0')), 0xB7);
}

TEST(Stm32Frames, EraseExtentBlocksAndProgress) {
    EXPECT_EQ(Stm32BlockCount(1), 1);
    EXPECT_EQ(Stm32BlockCount(256), 1);
    EXPECT_EQ(Stm32BlockCount(257), 2);
    EXPECT_EQ(Stm32BlockCount(3000), 12);
    EXPECT_EQ(Stm32ImageKb(3000), 3);
    EXPECT_EQ(Stm32ImageKb(1024), 2);
    // The pages an image's addresses touch, and no others.
    const struct {
        uint32_t first, end;
        int pageSize, firstPage, count;
    } pages[] = {
        {0x08000000, 0x08000000 + 3000, 1024, 0, 3},
        {0x08000000, 0x08000400, 1024, 0, 1},         // exactly one page: one page
        {0x08000000, 0x08010000, 1024, 0, 64},        // a full 64 KB chip
        {0x08000000, 0x08040000, 2048, 0, 128},
        {0x08004000, 0x08004000 + 3000, 1024, 16, 3}, // behind a 16 KB bootloader
        {0x080043FF, 0x08004401, 1024, 16, 2},        // two bytes across a page boundary
        {0x08004004, 0x08004008, 2048, 8, 1},
    };
    for (const auto& p : pages) {
        const auto got = Stm32Layout::Pages(p.pageSize, 0x08000000, 0).Covering(p.first, p.end);
        ASSERT_TRUE(got) << std::hex << p.first;
        EXPECT_EQ(got->first, p.firstPage) << std::hex << p.first;
        EXPECT_EQ(got->count, p.count) << std::hex << p.first;
    }
    // One block fills the bar; otherwise steps of 1024 / (C - 1), held at 1024.
    EXPECT_EQ(Stm32Progress(1, 1), 1024);
    EXPECT_EQ(Stm32Progress(1, 12), 93);
    EXPECT_EQ(Stm32Progress(11, 12), 1023);
    EXPECT_EQ(Stm32Progress(12, 12), 1024);
    EXPECT_EQ(Stm32Progress(2, 2), 1024);
}

TEST(Stm32Frames, GetReplyAndLines) {
    const QByteArray f1 = QByteArray::fromHex("790b22000102112131436373829279");
    const QByteArray f0 = QByteArray::fromHex("790b31000102112131446373829279");
    EXPECT_EQ(Stm32ListReplyLength(f1.left(1)), 0);
    EXPECT_EQ(Stm32ListReplyLength(f1.left(2)), 15);
    EXPECT_TRUE(Stm32Offers(f1, Stm32Code::Erase));
    EXPECT_FALSE(Stm32Offers(f1, Stm32Code::ExtendedErase));
    EXPECT_TRUE(Stm32Offers(f0, Stm32Code::ExtendedErase));
    EXPECT_FALSE(Stm32Offers(f0, Stm32Code::Erase));
    EXPECT_FALSE(Stm32Offers(f1.left(9), Stm32Code::Erase)); // not yet in

    EXPECT_EQ(Stm32VersionLine(0x22), QStringLiteral("bootloader版本:2.2"));
    EXPECT_EQ(Stm32VersionLine(0x31), QStringLiteral("bootloader版本:3.1"));
    EXPECT_EQ(Stm32DeviceIdLine(0x410), QStringLiteral("Device ID:0410"));
    EXPECT_EQ(Stm32FlashSizeLine(8), QStringLiteral("FLASH大小: 08 KB"));
    EXPECT_EQ(Stm32FlashSizeLine(256), QStringLiteral("FLASH大小: 256 KB"));
    EXPECT_EQ(Stm32ImageSizeLine(3), QStringLiteral("文件大小： 3 KB"));

    const Stm32Part* md = FindStm32Part(0x410);
    const Stm32Part* f030 = FindStm32Part(0x440);
    const Stm32Part* f303 = FindStm32Part(0x422);
    const Stm32Part* h7rs = FindStm32Part(0x485);
    const Stm32Part* w108 = FindStm32Part(0x9A8);
    ASSERT_TRUE(md && f030 && f303 && h7rs && w108);
    EXPECT_EQ(Stm32SramLine(64, 0xFFFF, md), QStringLiteral("SRAM：     20 KB"));
    EXPECT_EQ(Stm32SramLine(128, 0xFFFF, nullptr), QStringLiteral("SRAM：     20 KB"));
    EXPECT_EQ(Stm32SramLine(32, 0xFFFF, md), QStringLiteral("SRAM：     10 KB"));
    EXPECT_EQ(Stm32SramLine(16, 0xFFFF, md), QStringLiteral("    ???"));
    EXPECT_EQ(Stm32SramLine(64, 0x1234, md), QStringLiteral("SRAM："));
    EXPECT_EQ(Stm32SramLine(64, 0xFFFF, f030), QStringLiteral("SRAM：     8 KB"));
    // The table's RAM from 0x20000000 up to the end of what the bootloader
    // leaves the host; none where the RAM lies elsewhere.
    EXPECT_EQ(Stm32SramLine(256, 0xFFFF, f303), QStringLiteral("SRAM：     40 KB"));
    EXPECT_EQ(Stm32SramLine(64, 0xFFFF, h7rs), QStringLiteral("    ???"));
    // Without a flash-size register the F1 rule has nothing to go by.
    EXPECT_EQ(Stm32SramLine(128, 0x1234, w108), QStringLiteral("SRAM：     8 KB"));
}

TEST(Stm32Parts, LookUpsAndLabels) {
    const Stm32Part* f401 = FindStm32Part(0x423);
    ASSERT_TRUE(f401);
    EXPECT_STREQ(f401->family, "F4");
    EXPECT_EQ(f401->flashSizeAddress, 0x1FFF7A22u);
    EXPECT_TRUE(f401->has(Stm32Flag::VoltageRange));
    EXPECT_FALSE(f401->has(Stm32Flag::NoMassErase));
    EXPECT_EQ(FindStm32Part(0x0abc), nullptr);
    EXPECT_EQ(Stm32PartLabel(0x410), QStringLiteral("STM32F10xxx Medium-density (0x410)"));
    EXPECT_EQ(Stm32PartLabel(0x44C), QStringLiteral("STM32C051xx (0x44c)"));
    EXPECT_EQ(Stm32PartLabel(0x0abc), QStringLiteral("STM32 (0x0abc)"));
    // The L1 part that encodes its sizes; the G07x bootloader that erases
    // one page per command.
    const Stm32Part* l1 = FindStm32Part(0x436);
    ASSERT_TRUE(l1);
    EXPECT_EQ(Stm32FlashKbFromRegister(*l1, 0), 384);
    EXPECT_EQ(Stm32FlashKbFromRegister(*l1, 1), 256);
    EXPECT_EQ(Stm32FlashKbFromRegister(*f401, 256), 256);
    EXPECT_EQ(Stm32MaxUnitsPerErase(FindStm32Part(0x460), true), 1);
    EXPECT_EQ(Stm32MaxUnitsPerErase(f401, true), 511);
    EXPECT_EQ(Stm32MaxUnitsPerErase(nullptr, false), 256);
}
