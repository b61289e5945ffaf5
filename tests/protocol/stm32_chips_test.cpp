// The STM32 operations on the newer chips (F401 with its sectors, G071 and
// L431 with their 8-byte write unit) and on read-protected chips, through
// the protocol API against the simulators in virtual time: write, verify and
// read back; applications behind a bootloader; mass erase on request; Go;
// other rates; read-out; Readout Protect and Unprotect.
#include <gtest/gtest.h>

#include "Stm32Sessions.h"
#include "common/QtPrinters.h"
#include "protocol/Stm32Session.h"
#include "sim/Stm32Chip.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;
using namespace talvo::stm32test;
using sim::Stm32Chip;
using sim::VirtualHost;

namespace {

const QString kProtected = QStringLiteral(
    "读保护已开启：芯片拒绝读出和写入FLASH（读存储器命令 0x11 三次得到 NACK 0x1F）；解除读保护会擦除整个芯片");
const QString kProtectedDownload =
    kProtected + QStringLiteral("（FLASH中的程序和数据全部丢失），之后才能下载；未擦除也未写入");

const struct NewChip {
    const char* selector;
    int flashKb;
    int writeUnit;
    QStringList identification;
    const char* unitNote; // how the chip records an erase: "erase of N pages" / "sectors"
} kNewChips[] = {
    {"stm32f401", 256, 4, {"bootloader版本:3.1", "Device ID:0423", "FLASH大小: 256 KB", "SRAM：     64 KB"}, "sectors"},
    {"stm32g071", 128, 8, {"bootloader版本:3.1", "Device ID:0460", "FLASH大小: 128 KB", "SRAM：     36 KB"}, "pages"},
    {"stm32l431", 256, 8, {"bootloader版本:3.1", "Device ID:0435", "FLASH大小: 256 KB", "SRAM：     48 KB"}, "pages"},
};

Stm32Options download(const QByteArray& image, bool verify, uint32_t address = kStm32FlashBase) {
    Stm32Options o;
    o.image = image;
    o.verify = verify;
    o.address = address;
    return o;
}

// Reads `length` bytes at `address` back through the read-out operation.
QByteArray readBack(sim::SimChip& chip, uint32_t address, uint32_t length) {
    VirtualHost host(chip);
    Stm32ReadOptions o;
    o.address = address;
    o.length = length;
    const Stm32ReadOut out = ReadStm32(host, o);
    EXPECT_TRUE(out.report.success) << host.log.join(u'\n').toStdString();
    return out.data;
}

// Every flash write at an address on the write unit, a whole number of units.
::testing::AssertionResult WritesOnUnits(const sim::SimChip& chip, int unit) {
    for (const auto& w : recorded(chip, "Write ")) {
        const uint32_t address =
            uint32_t(w.bytes[2]) << 24 | uint32_t(w.bytes[3]) << 16 | uint32_t(w.bytes[4]) << 8 | w.bytes[5];
        const int count = w.bytes[7] + 1;
        if (address % unit != 0 || count % unit != 0)
            return ::testing::AssertionFailure() << count << " bytes written at 0x" << std::hex << address;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// Images of several sizes at several places on a flash that holds data
// everywhere: afterwards only the image's bytes differ, the read-back agrees,
// and every write is on the chip's write unit.
TEST(Stm32Chips, WriteVerifyAndReadBackOnEachNewChip) {
    for (const NewChip& c : kNewChips) {
        const struct Case {
            uint32_t address;
            int size;
        } cases[] = {
            {0x08000000, 1},         // one byte: padded to a whole write unit with the bytes kept
            {0x08000000, 3001},      // not on a write unit at its end
            {0x08000000, 40 * 1024}, // across a 16 KB sector (F401)
            {0x08004004, 777},       // off the unit at both ends, behind a bootloader
            {static_cast<uint32_t>(0x08000000 + c.flashKb * 1024 - 260), 260}, // up to the flash's last byte
        };
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(c.selector) + " at " + QString::number(k.address, 16).toStdString() + ", " +
                         std::to_string(k.size) + " bytes");
            auto chip = makeChip(c.selector);
            const QByteArray before = usedFlash(*chip);
            fill(*chip, before);
            VirtualHost host(*chip);
            const QByteArray image = randomImage(k.size, k.address);
            const Stm32Report report = DownloadStm32(host, download(image, true, k.address));
            ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
            EXPECT_EQ(report.bytes, k.size);
            EXPECT_FALSE(report.readProtected);
            QByteArray want = before;
            want.replace(static_cast<qsizetype>(k.address - 0x08000000), image.size(), image);
            EXPECT_TRUE(SameFlash(flashOf(*chip), want));
            EXPECT_TRUE(
                InOrder(host.log, QStringList{"正在连机...", "连接成功"} + c.identification +
                                      QStringList{QStringLiteral("校验成功：读回 %1 字节，与文件一致").arg(k.size),
                                                  kDone, kSuccess}));
            EXPECT_EQ(host.log.last(), kSuccess);
            EXPECT_TRUE(WritesOnUnits(*chip, c.writeUnit));
            EXPECT_TRUE(chip->rejectedFrames().empty());
            for (const auto& e : recorded(*chip, "erase of ")) {
                EXPECT_EQ(e.bytes[0], 0x44);
                EXPECT_TRUE(e.note.ends_with(c.unitNote)) << e.note;
            }
            EXPECT_EQ(readBack(*chip, k.address, static_cast<uint32_t>(k.size)), image);
        }
    }
}

// An application at a sector boundary behind a bootloader of 64 KB (sectors
// 0 to 3 of the F401): only its sector is erased and written; the sectors
// before it are not even read, the rest of its own sector is kept (read
// first, written back), and the sector after it is not touched.
TEST(Stm32Chips, AnApplicationAtASectorBoundaryLeavesTheSectorsBeforeItUntouched) {
    auto chip = makeChip("stm32f401");
    const QByteArray before = usedFlash(*chip);
    fill(*chip, before);
    VirtualHost host(*chip);
    const QByteArray app = randomImage(5000, 4);
    const Stm32Report report = DownloadStm32(host, download(app, false, 0x08010000));
    ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
    QByteArray want = before;
    want.replace(0x10000, app.size(), app);
    EXPECT_TRUE(SameFlash(flashOf(*chip), want));
    // Extended Erase of sector 4 alone: 44 BB, count 00 00, sector 00 04, XOR.
    const auto erases = recorded(*chip, "erase of ");
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(sim::hexBytes(erases[0].bytes), "44 BB 00 00 00 04 04");
    for (const auto& f : chip->frames()) {
        if (f.bytes.size() < 6 || (f.bytes[0] != 0x11 && f.bytes[0] != 0x31)) continue;
        const uint32_t address =
            uint32_t(f.bytes[2]) << 24 | uint32_t(f.bytes[3]) << 16 | uint32_t(f.bytes[4]) << 8 | f.bytes[5];
        if (address >= 0x08000000 && address < 0x08010000) ADD_FAILURE() << f.note;
        if (address >= 0x08020000 && address < 0x08040000) ADD_FAILURE() << f.note;
    }
    EXPECT_TRUE(host.log.contains(
        QStringLiteral("擦除的扇区中映像以外还有 60536 字节（0x08011388 至 0x0801FFFF）：先读出，以便随映像写回")));
    EXPECT_TRUE(
        host.log.contains(QStringLiteral("擦除的扇区中映像以外的数据已读出，将随映像写回：0x08011388 至 0x0801FFFF")));
    // The bar follows the 237 pieces read before the erase, then the 256
    // blocks written (the image and the rest of its sector), then goes to 0.
    ASSERT_EQ(host.progress.size(), 237u + 256u + 1u);
    EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.begin() + 237));
    EXPECT_GT(host.progress[236], 900);
    EXPECT_TRUE(std::is_sorted(host.progress.begin() + 237, host.progress.end() - 1));
    EXPECT_LT(host.progress[237], 10);
    EXPECT_EQ(host.progress.back(), 0);
}

// A read-protected chip: the download, the read-out and the erase are
// refused with the protection line (nothing erased, nothing written), and
// the report carries the flag.  With the removal asked for, the chip erases
// its flash, resets, and the download goes on.
TEST(Stm32Chips, AProtectedChipIsRefusedUntilTheProtectionIsRemoved) {
    for (const char* name : {"stm32f103", "stm32f030", "stm32f401", "stm32g071", "stm32l431"}) {
        SCOPED_TRACE(name);
        auto chip = makeChip(std::string(name) + ",rdp");
        auto& stm32 = static_cast<Stm32Chip&>(*chip);
        ASSERT_TRUE(stm32.readoutProtected());
        const QByteArray before = usedFlash(*chip);
        fill(*chip, before);
        const QByteArray image = randomImage(3000, 9);
        {
            VirtualHost host(*chip);
            const Stm32Report refused = DownloadStm32(host, download(image, true));
            EXPECT_FALSE(refused.success);
            EXPECT_TRUE(refused.readProtected);
            EXPECT_FALSE(refused.unprotected);
            EXPECT_EQ(host.log.last(), kProtectedDownload) << host.log.join(u'\n').toStdString();
            EXPECT_EQ(refused.failure, kProtectedDownload);
            EXPECT_FALSE(host.portOpen());
            EXPECT_TRUE(SameFlash(flashOf(*chip), before));
            EXPECT_TRUE(recorded(*chip, "erase").empty());
        }
        {
            VirtualHost host(*chip);
            const Stm32ReadOut out = ReadStm32(host, {});
            EXPECT_FALSE(out.report.success);
            EXPECT_TRUE(out.report.readProtected);
            EXPECT_TRUE(host.log.last().startsWith(kProtected)) << host.log.last().toStdString();
        }
        {
            VirtualHost host(*chip);
            Stm32Options o = download(image, true);
            o.unprotect = true;
            const Stm32Report report = DownloadStm32(host, o);
            ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
            EXPECT_TRUE(report.readProtected);
            EXPECT_TRUE(report.unprotected);
            EXPECT_FALSE(stm32.readoutProtected());
            // The removal erased the whole flash: the image and 0xFF.
            EXPECT_TRUE(FlashHolds(chip->flash(), image));
            EXPECT_TRUE(
                InOrder(host.log, {"连接成功",
                                   "芯片的读保护已开启（读存储器命令 0x11 三次得到 NACK 0x1F）：按要求解除读保护，"
                                   "这会擦除整个芯片",
                                   "正在解除读保护（Readout Unprotect 0x92）：芯片擦除整个FLASH后复位...",
                                   "读保护已解除：整个FLASH已被芯片擦除", "擦除芯片", kSuccess}));
        }
    }
}

namespace {
// Garbles the complement of the first `count` Read Memory commands: the chip
// refuses them as a chip refuses a command hit by line noise.
class GarbledReads : public Between {
public:
    GarbledReads(WirePeer& chip, int count) : Between(chip), left_(count) {}
    void onHostByte(uint8_t b, const LineSettings& host, WireClock::time_point at) override {
        if (last_ == 0x11 && b == 0xEE && left_ > 0) {
            --left_;
            b = 0xEF;
        }
        last_ = b;
        chip_.onHostByte(b, host, at);
    }

private:
    int left_;
    uint8_t last_ = 0;
};
} // namespace

// Two refusals of Read Memory in a row are taken for line noise, not for a
// read protection (whose removal, asked for, erases the chip): the download
// goes on and nothing is erased beyond the image's page.
TEST(Stm32Chips, TwoRefusedReadsAreNoReadProtection) {
    auto chip = makeChip("stm32g071");
    const QByteArray before = usedFlash(*chip);
    fill(*chip, before);
    GarbledReads garbled(*chip, 2);
    VirtualHost host(garbled);
    Stm32Options o = download(randomImage(2048, 8), true, 0x08000800);
    o.unprotect = true;
    const Stm32Report report = DownloadStm32(host, o);
    ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
    EXPECT_FALSE(report.readProtected);
    EXPECT_FALSE(report.unprotected);
    EXPECT_EQ(host.log.filter(QStringLiteral("读保护")).size(), 0);
    QByteArray want = before;
    want.replace(0x800, 2048, o.image);
    EXPECT_TRUE(SameFlash(flashOf(*chip), want));
    EXPECT_EQ(chip->rejectedFrames().size(), 2u);
}

// Readout Protect and Unprotect as operations of their own: each changes
// the chip only when it has to, and says what it did.
TEST(Stm32Chips, ProtectAndUnprotect) {
    auto chip = makeChip("stm32g071");
    auto& stm32 = static_cast<Stm32Chip&>(*chip);
    const QByteArray image = randomImage(2048, 3);
    {
        VirtualHost host(*chip);
        ASSERT_TRUE(DownloadStm32(host, download(image, true)).success);
    }
    struct Step {
        Stm32Report (*run)(DownloadHost&, uint32_t);
        bool protectedAfter;
        QString last;
        bool flashKept;
    } steps[] = {
        {ProtectStm32, true, "读保护已开启：FLASH不能再经引导程序读出或写入；解除读保护会擦除整个芯片", true},
        {ProtectStm32, true, "读保护本已开启：未做任何改动", true},
        {UnprotectStm32, false, "读保护已解除：FLASH已擦除，可以下载", false},
        {UnprotectStm32, false, "芯片未开启读保护：未做任何改动", false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.last.toStdString());
        VirtualHost host(*chip);
        const Stm32Report report = s.run(host, kStm32DefaultBaud);
        ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
        EXPECT_EQ(host.log.last(), s.last);
        EXPECT_EQ(stm32.readoutProtected(), s.protectedAfter);
        EXPECT_FALSE(host.portOpen());
        EXPECT_EQ(flashOf(*chip).left(image.size()) == image, s.flashKept);
    }
}

// A mass erase happens on request only: without it the pages around the
// image keep their data; with it the whole flash is erased first.
TEST(Stm32Chips, MassEraseOnRequestOnly) {
    for (bool mass : {false, true}) {
        SCOPED_TRACE(mass ? "mass erase" : "the image's units");
        auto chip = makeChip("stm32f401");
        const QByteArray before = usedFlash(*chip);
        fill(*chip, before);
        VirtualHost host(*chip);
        const QByteArray image = randomImage(1001, 5);
        Stm32Options o = download(image, true, 0x08004002);
        o.massErase = mass;
        const Stm32Report report = DownloadStm32(host, o);
        ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
        QByteArray want = mass ? QByteArray(before.size(), '\xFF') : before;
        want.replace(0x4002, image.size(), image);
        EXPECT_TRUE(SameFlash(flashOf(*chip), want));
        EXPECT_EQ(recorded(*chip, "mass erase").size(), mass ? 1u : 0u);
        EXPECT_EQ(recorded(*chip, "erase of ").size(), mass ? 0u : 1u);
        EXPECT_EQ(host.log.contains(QStringLiteral("整片擦除：擦除整个FLASH（按要求）")), mass);
    }
}

// Go starts the application at the image's start instead of the reset
// lines; a chip that does not offer Go is released as usual.
TEST(Stm32Chips, GoStartsTheApplication) {
    auto chip = makeChip("stm32l431");
    auto& stm32 = static_cast<Stm32Chip&>(*chip);
    VirtualHost host(*chip);
    Stm32Options o = download(randomImage(4096, 6), true, 0x08008000);
    o.go = true;
    const Stm32Report report = DownloadStm32(host, o);
    ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
    EXPECT_TRUE(stm32.runningUserCode());
    EXPECT_TRUE(InOrder(host.log,
                        {"校验成功：读回 4096 字节，与文件一致",
                         "已用 Go 命令（0x21）从 0x08008000 启动程序（栈指针取自 0x08008000，入口地址取自 0x08008004）",
                         kSuccess}));
    const auto go = recorded(*chip, "Go ");
    ASSERT_EQ(go.size(), 1u);
    EXPECT_EQ(sim::hexBytes(go[0].bytes), "21 DE 08 00 80 00 88");
    // The reset lines were left alone: DTR (RESET) is not asserted afterwards.
    EXPECT_FALSE(host.lines().dtr);

    sim::Stm32Model noGo = sim::stm32Models()[0];
    noGo.commands.erase(std::find(noGo.commands.begin(), noGo.commands.end(), 0x21));
    Stm32Chip plain(noGo, {});
    VirtualHost plainHost(plain);
    ASSERT_TRUE(DownloadStm32(plainHost, o).success) << plainHost.log.join(u'\n').toStdString();
    EXPECT_TRUE(plainHost.log.contains(QStringLiteral("引导程序不支持 Go 命令（0x21）：改由复位线启动程序")));
    EXPECT_FALSE(plain.runningUserCode());
}

// The rate is an option: the bootloader measures it from the start byte and
// answers at it; the replies settle by it.
TEST(Stm32Chips, OtherRates) {
    for (uint32_t baud : {9600u, 57600u, 230400u}) {
        SCOPED_TRACE(baud);
        auto chip = makeChip("stm32g071");
        VirtualHost host(*chip);
        const QByteArray image = randomImage(3000, baud);
        Stm32Options o = download(image, true);
        o.baud = baud;
        const Stm32Report report = DownloadStm32(host, o);
        ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
        EXPECT_EQ(report.baud, baud);
        EXPECT_EQ(host.hostSettings().baud, baud);
        EXPECT_EQ(chip->uart().baud, baud);
        EXPECT_TRUE(FlashHolds(chip->flash(), image));
    }
}

// The read-out: the whole flash by default (its size from the chip), 256
// bytes a read, progress to the end; a range given by address and length;
// a range that runs past the flash is refused.
TEST(Stm32Chips, ReadOut) {
    auto chip = makeChip("stm32f401");
    const QByteArray flash = usedFlash(*chip);
    fill(*chip, flash);
    {
        VirtualHost host(*chip);
        const Stm32ReadOut out = ReadStm32(host, {});
        ASSERT_TRUE(out.report.success) << host.log.join(u'\n').toStdString();
        EXPECT_EQ(out.address, 0x08000000u);
        EXPECT_EQ(out.data, flash);
        EXPECT_EQ(out.report.bytes, flash.size());
        EXPECT_EQ(recorded(*chip, "Read 256 bytes at 08").size(), 1024u);
        EXPECT_EQ(host.log.last(), QStringLiteral("读出完成：0x08000000 至 0x0803FFFF，共 262144 字节"));
        EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end() - 1));
        EXPECT_EQ(host.progress[host.progress.size() - 2], 1024);
        EXPECT_EQ(host.progress.back(), 0);
        EXPECT_FALSE(host.portOpen());
    }
    EXPECT_EQ(readBack(*chip, 0x08010003, 1000), flash.mid(0x10003, 1000));
    {
        Stm32ReadOptions o;
        o.address = 0x0803FF00;
        VirtualHost host(*chip);
        const Stm32ReadOut out = ReadStm32(host, o); // from the address to the flash's end
        ASSERT_TRUE(out.report.success);
        EXPECT_EQ(out.data, flash.right(256));
    }
    {
        Stm32ReadOptions o;
        o.address = 0x0803FF00;
        o.length = 512;
        VirtualHost host(*chip);
        const Stm32ReadOut out = ReadStm32(host, o);
        EXPECT_FALSE(out.report.success);
        EXPECT_EQ(host.log.last(),
                  QStringLiteral(
                      "读出范围 0x0803FF00 至 0x080400FF 超出芯片FLASH 0x08000000 至 0x0803FFFF（256 KB），未读出"));
    }
}

// A bootloader that does not let the flash-size register be read: the
// table's size for the part stands in, and the download goes on.
TEST(Stm32Chips, AFlashSizeRegisterThatCannotBeReadGivesTheTablesSize) {
    sim::Stm32Model f401 = sim::stm32Models()[3];
    f401.systemEnd = 0x1FFF7A20; // the device data end before the flash size
    Stm32Chip chip(f401, {});
    VirtualHost host(chip);
    const QByteArray image = randomImage(3000, 10);
    const Stm32Report report = DownloadStm32(host, download(image, true));
    ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
    EXPECT_TRUE(InOrder(host.log,
                        {"Device ID:0423", "FLASH大小: 256 KB", "SRAM：     64 KB",
                         "芯片拒绝读出FLASH大小寄存器 0x1FFF7A22：FLASH大小取自芯片表（STM32F401xB(C) 最大的容量）"}));
    EXPECT_TRUE(FlashHolds(chip.flash(), image));
}

// Parts the chip table knows less of: one whose erase layout is unknown is
// refused before anything is erased unless a mass erase is asked for; one
// whose bootloader refuses a mass erase gets its flash erased unit by unit,
// in commands of at most 511 units.
TEST(Stm32Chips, PartsWithoutALayoutOrAMassErase) {
    // An STM32C55x (layout not known to the chip facts; flash size register
    // at 0x08FFF80C, served here as a device-data area of the simulator).
    sim::Stm32Model c5 = sim::stm32Models()[4]; // the G071's bootloader and flash
    c5.pid = 0x44E;
    c5.flashSizeAddress = 0x08FFF80C;
    c5.systemBase = 0x08FFF800;
    c5.systemEnd = 0x08FFF810;
    c5.uniqueIdAddress = 0;
    c5.writeUnit = 16;
    const QByteArray image = randomImage(3000, 7);
    for (bool mass : {false, true}) {
        Stm32Chip chip(c5, {});
        chip.flash()[0x10000] = 0x00;
        VirtualHost host(chip);
        Stm32Options o = download(image, true);
        o.massErase = mass;
        const Stm32Report report = DownloadStm32(host, o);
        EXPECT_EQ(report.success, mass) << host.log.join(u'\n').toStdString();
        if (!mass) {
            EXPECT_EQ(host.log.last(),
                      QStringLiteral("STM32C55xxx/562xx 的擦除布局（页或扇区的大小）未知：无法只擦除映像所在的部分，"
                                     "未擦除也未写入；整片擦除（擦除整个FLASH）可以写入它"));
            EXPECT_EQ(chip.flash()[0x10000], 0x00);
        } else {
            EXPECT_TRUE(FlashHolds(chip.flash(), image));
            EXPECT_TRUE(WritesOnUnits(chip, 16));
        }
    }

    // An STM32L05x: 128-byte pages, no mass erase; 64 KB are 512 pages.
    sim::Stm32Model l0 = sim::stm32Models()[4];
    l0.pid = 0x417;
    l0.flashSize = 64 * 1024;
    l0.pageSize = 128;
    l0.flashSizeAddress = 0x1FF8007C;
    l0.systemBase = 0x1FF80040; // device data with the flash size
    l0.systemEnd = 0x1FF80080;
    l0.optionBase = 0x1FF80000;
    l0.optionEnd = 0x1FF80020;
    l0.uniqueIdAddress = 0;
    l0.pageEraseMin = 0.0032; // a 128-byte page
    l0.pageEraseMax = 0.0034;
    Stm32Chip chip(l0, {});
    VirtualHost host(chip);
    Stm32Options o = download(image, true);
    o.massErase = true;
    const Stm32Report report = DownloadStm32(host, o);
    ASSERT_TRUE(report.success) << host.log.join(u'\n').toStdString();
    EXPECT_TRUE(recorded(chip, "mass erase").empty());
    const auto erases = recorded(chip, "erase of ");
    ASSERT_EQ(erases.size(), 2u);
    EXPECT_EQ(erases[0].note, "erase of 511 pages");
    EXPECT_EQ(erases[1].note, "erase of 1 pages");
    EXPECT_TRUE(host.log.contains(QStringLiteral("整片擦除：这个芯片不接受整片擦除命令，逐页擦除整个FLASH（按要求）")));
}
