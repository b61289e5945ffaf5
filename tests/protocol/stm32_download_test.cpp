// Whole STM32 downloads against the simulated chips (F103 medium and high
// density, F030), in virtual time: what reaches the flash, what the log says
// in which order, and how each failure ends.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "Stm32Sessions.h"
#include "common/QtPrinters.h"
#include "protocol/Diagnosis.h"
#include "protocol/Stm32Session.h"
#include "sim/Simulators.h"
#include "sim/Stm32Chip.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::stm32test;
using namespace talvo::protocol;
using sim::Stm32Chip;
using sim::VirtualHost;

TEST(Stm32Download, EverySizeOnEachChip) {
    const struct Chip {
        const char* selector;
        int largest;
        QStringList identification;
        uint8_t eraseCode;
        int pageSize;
    } chips[] = {
        {"stm32f103", 64 * 1024,
         {"bootloader版本:2.2", "Device ID:0410", "FLASH大小: 64 KB", "SRAM：     20 KB"}, 0x43, 1024},
        {"stm32f103hd", 256 * 1024,
         {"bootloader版本:2.2", "Device ID:0414", "FLASH大小: 256 KB", "    ???"}, 0x43, 2048},
        {"stm32f030", 64 * 1024,
         {"bootloader版本:3.1", "Device ID:0440", "FLASH大小: 64 KB", "SRAM：     8 KB"}, 0x44, 1024},
    };
    int run = 0;
    for (const Chip& c : chips) {
        for (int size : {1, 4, 255, 256, 257, 1024, 3000, 60 * 1024, c.largest}) {
            const bool verify = run++ % 2 == 1;
            SCOPED_TRACE(std::string(c.selector) + ", " + std::to_string(size) + " bytes" + (verify ? ", verified" : ""));
            auto chip = makeChip(c.selector);
            VirtualHost host(*chip);
            const QByteArray image = randomImage(size);
            const DownloadReport report = DownloadStm32(host, {image, verify});

            ASSERT_TRUE(report.success) << report.failure.toStdString();
            EXPECT_EQ(report.bytes, size);
            EXPECT_EQ(report.baud, 115200u);
            EXPECT_TRUE(FlashHolds(chip->flash(), image));
            QStringList want = {QStringLiteral("正在连机..."), QStringLiteral("连接成功")};
            want << c.identification
                 << QStringLiteral("文件大小： %1 KB").arg(size / 1024 + 1) << QStringLiteral("擦除芯片")
                 << QStringLiteral("正在下载数据,请稍侯... ...")
                 << (verify ? QStringLiteral("校验成功：读回 %1 字节，与文件一致").arg(size)
                            : QStringLiteral("未校验：写入的数据没有读回比较"))
                 << kDone << kSuccess;
            EXPECT_TRUE(InOrder(host.log, want));
            EXPECT_EQ(host.log.last(), kSuccess);
            EXPECT_EQ(host.log.filter(QStringLiteral("未知")).size(), 0);
            // The bar stays within 0 to 1024 (one block fills it) and ends at
            // 0; the port is closed.
            ASSERT_FALSE(host.progress.empty());
            EXPECT_EQ(host.progress.back(), 0);
            EXPECT_LE(*std::max_element(host.progress.begin(), host.progress.end()), 1024);
            EXPECT_GE(*std::min_element(host.progress.begin(), host.progress.end()), 0);
            if (size <= 256) {
                EXPECT_EQ(host.progress.front(), 1024);
            }
            EXPECT_FALSE(host.portOpen());
            EXPECT_TRUE(chip->rejectedFrames().empty());

            // The erase the Get reply asked for, over the pages the image lies in
            // on the chip's own page size; every block a whole number of words.
            const auto erases = recorded(*chip, "erase of ");
            ASSERT_EQ(erases.size(), 1u);
            EXPECT_EQ(erases[0].bytes[0], c.eraseCode);
            const int pages = (size + c.pageSize - 1) / c.pageSize;
            EXPECT_EQ(erases[0].note, "erase of " + std::to_string(pages) + " pages");
            const auto writes = recorded(*chip, "Write ");
            EXPECT_EQ(static_cast<int>(writes.size()), (size + 255) / 256);
            for (const auto& w : writes) EXPECT_EQ((w.bytes[7] + 1) % 4, 0);
            // The flash size, the rest of the last page (read twice before the
            // erase, to be kept) and, verifying, every block.
            const size_t keptReads = 2 * static_cast<size_t>((pages * c.pageSize - size + 255) / 256);
            EXPECT_EQ(recorded(*chip, "Read ").size(), 1u + keptReads + (verify ? writes.size() : 0u));
        }
    }
}

TEST(Stm32Download, TheThreeThousandByteExample) {
    auto chip = makeChip("stm32f103");
    VirtualHost host(*chip);
    const QByteArray image = randomImage(3000);
    ASSERT_TRUE(DownloadStm32(host, {image, false}).success);
    const auto erase = recorded(*chip, "erase of ");
    ASSERT_EQ(erase.size(), 1u);
    EXPECT_EQ(sim::hexBytes(erase[0].bytes), "43 BC 02 00 01 02 01");
    const auto writes = recorded(*chip, "Write ");
    ASSERT_EQ(writes.size(), 12u);
    for (size_t i = 0; i < writes.size(); ++i) {
        const uint32_t address = 0x08000000 + 256 * static_cast<uint32_t>(i);
        EXPECT_EQ(sim::hexBytes(sim::Bytes(writes[i].bytes.begin(), writes[i].bytes.begin() + 6)),
                  sim::hexBytes({0x31, 0xCE, 0x08, 0x00, static_cast<uint8_t>(address >> 8), 0x00}));
    }
    // The last block: count byte B7, 184 bytes.
    EXPECT_EQ(writes.back().bytes[7], 0xB7);
    EXPECT_EQ(writes.back().bytes.size(), 2u + 5u + 1u + 184u + 1u);
    // The bar's steps: 1024 / 11 = 93 per block, held at 1024, then 0.
    EXPECT_EQ(host.progress.front(), 93);
    EXPECT_EQ(host.progress[10], 1023);
    EXPECT_EQ(host.progress[11], 1024);
    EXPECT_EQ(host.progress.back(), 0);
}

namespace {

// A chip that answers every byte with 17 90: the text "1790" holds "79", but
// no byte 0x79 ever arrives.
class NoisePeer : public WirePeer {
public:
    void attach(WireLink* link) override { link_ = link; }
    void onHostByte(uint8_t, const LineSettings& host, WireClock::time_point at) override {
        const uint8_t noise[2] = {0x17, 0x90};
        if (link_) link_->sendToHost(noise, 2, host, at);
    }

private:
    WireLink* link_ = nullptr;
};

// Passes the host's bytes to a chip until the first data block has begun
// (Write Memory and its address have passed), then drops them.
class MuteAfterFirstAddress : public stm32test::Between {
public:
    using Between::Between;
    void onHostByte(uint8_t b, const LineSettings& host, WireClock::time_point at) override {
        if (toMute_ == 0) return;
        if (toMute_ > 0) --toMute_;
        if (toMute_ < 0 && last_ == 0x31 && b == 0xCE) toMute_ = 6; // address (5) and the count byte
        last_ = b;
        chip_.onHostByte(b, host, at);
    }

private:
    int toMute_ = -1;
    uint8_t last_ = 0;
};

// A chip whose flash cannot be read (as a protected part's): the checksum of
// every Read Memory address in the flash is spoilt, so the chip refuses it.
class FlashUnreadable : public stm32test::Between {
public:
    using Between::Between;
    void onHostByte(uint8_t b, const LineSettings& host, WireClock::time_point at) override {
        if (addressLeft_ > 0) {
            // Four address bytes, high first, then their checksum.
            if (--addressLeft_ == 0 && (address_ >> 20) == 0x080) b ^= 0xFF;
            address_ = address_ << 8 | b;
        } else if (last_ == 0x11 && b == 0xEE) {
            addressLeft_ = 5;
            address_ = 0;
        }
        last_ = b;
        chip_.onHostByte(b, host, at);
    }

private:
    int addressLeft_ = 0;
    uint32_t address_ = 0;
    uint8_t last_ = 0;
};

// Sets readout protection through the bootloader, as a host would.
void protect(VirtualHost& host) {
    ASSERT_TRUE(host.OpenPort(115200, kParityEven, 0x79));
    host.ResetTicks();
    auto acks = [](int n) { return [n](const QByteArray& r) { return r.count('\x79') >= n; }; };
    host.Send(QByteArray::fromHex("7f"));
    ASSERT_EQ(host.Wait(10, acks(1)), WaitResult::Replied);
    host.Send(QByteArray::fromHex("827d"));
    ASSERT_EQ(host.Wait(10, acks(2)), WaitResult::Replied);
    host.ClosePort();
}

} // namespace

TEST(Stm32Download, FailuresEndCleanly) {
    const QString diag = ConnectDiagnosisText();
    const struct Row {
        const char* name;
        const char* selector; // "" : the row makes its own peer
        int size;
        std::function<std::unique_ptr<WirePeer>(sim::SimChip*)> wrap; // around the chip (may be null)
        std::function<void(VirtualHost&)> setup;
        QStringList tail;   // the last lines of the log
        double minSeconds, maxSeconds;
        int bytes;          // bytes the report says were written
    } rows[] = {
        {"no acknowledge to 7F", "stm32f103,drop=1", 3000, nullptr, nullptr, {"连接超时...", diag}, 4.0, 4.3, 0},
        {"1790 is not an acknowledge",
         "",
         3000,
         [](sim::SimChip*) { return std::make_unique<NoisePeer>(); },
         nullptr,
         {"连接超时...", diag},
         4.0,
         4.3,
         0},
        {"Get unanswered (40 ticks)",
         "stm32f103,silent-after=0",
         3000,
         nullptr,
         nullptr,
         {"连接超时...", diag},
         5.0,
         5.4,
         0},
        {"read refused at once (readout protection)",
         "stm32f103",
         3000,
         nullptr,
         protect,
         {"读保护已开启：芯片拒绝读出和写入FLASH（读存储器命令 0x11 三次得到 NACK 0x1F）；解除读保护会擦除整个芯片"
          "（FLASH中的程序和数据全部丢失），之后才能下载；未擦除也未写入"},
         1.0,
         1.5,
         0},
        {"block refused at once",
         "stm32f103,nack-block=2",
         3000,
         nullptr,
         nullptr,
         {"写数据失败，重试!", "芯片拒绝了数据块（地址 0x08000100，256 字节）（NACK "
                               "0x1F），可能原因：FLASH写保护或未擦除，或数据在线路上出错"},
         1.0,
         1.6,
         256},
        {"block unanswered (30 ticks)",
         "stm32f103",
         3000,
         [](sim::SimChip* chip) { return std::make_unique<MuteAfterFirstAddress>(*chip); },
         nullptr,
         {"写数据失败，重试!"},
         4.1,
         4.8,
         0},
        {"hang-up mid-write",
         "stm32f103,hangup-block=3",
         3000,
         nullptr,
         nullptr,
         {"写数据失败，重试!", "串口 sim 已断开（USB 转换器被拔出，或设备挂断）"},
         1.0,
         1.7,
         512},
        {"image larger than the flash",
         "stm32f103",
         64 * 1024 + 1,
         nullptr,
         nullptr,
         {"映像 0x08000000 至 0x08010000（65537 字节）不在芯片FLASH 0x08000000 至 0x0800FFFF（64 "
          "KB）之内，未擦除也未写入"},
         1.0,
         1.5,
         0},
        {"port does not open",
         "stm32f103",
         3000,
         nullptr,
         [](VirtualHost& h) { h.failOpen = [](int) { return true; }; },
         {PortDiagnosisText()},
         0,
         0.01,
         0},
        {"stopped by the user",
         "stm32f103",
         60 * 1024,
         nullptr,
         [](VirtualHost& h) { h.cancelAfterSeconds = 2.0; },
         {"下载已取消"},
         2.0,
         2.2,
         -1},
        {"empty image",
         "stm32f103",
         0,
         nullptr,
         nullptr,
         {"固件为空（0 字节）：没有可写入的数据，下载未开始"},
         0,
         0.01,
         0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<sim::SimChip> chip = *r.selector ? makeChip(r.selector) : nullptr;
        if (chip) chip->flash()[0] = 0x00; // a program from before: kept unless erased
        std::unique_ptr<WirePeer> wrapper = r.wrap ? r.wrap(chip.get()) : nullptr;
        VirtualHost host(wrapper ? *wrapper : static_cast<WirePeer&>(*chip));
        if (r.setup) r.setup(host);
        const double started = host.elapsedSeconds();
        const DownloadReport report = DownloadStm32(host, {randomImage(r.size), false});
        const double took = host.elapsedSeconds() - started;

        EXPECT_FALSE(report.success);
        ASSERT_GE(host.log.size(), r.tail.size()) << host.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(host.log.mid(host.log.size() - r.tail.size()), r.tail) << host.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(report.failure, r.tail.last());
        EXPECT_FALSE(host.log.contains(kSuccess));
        EXPECT_GE(took, r.minSeconds);
        EXPECT_LE(took, r.maxSeconds);
        if (r.bytes >= 0) {
            EXPECT_EQ(report.bytes, r.bytes);
        }
        EXPECT_GE(host.endDownloads, 1);
        EXPECT_FALSE(host.portOpen());
        ASSERT_FALSE(host.progress.empty());
        EXPECT_EQ(host.progress.back(), 0);
        // Refused before the erase: the old program is still there.
        if (chip && recorded(*chip, "erase of ").empty()) {
            EXPECT_EQ(chip->flash()[0], 0x00);
        }
    }
}

TEST(Stm32Download, VerifyFindsAWordStoredWrongly) {
    const QByteArray image = randomImage(3000);
    for (bool verify : {true, false}) {
        SCOPED_TRACE(verify ? "verified" : "not verified");
        auto chip = makeChip("stm32f030,bad-word=300"); // word 300: 0x080004AC
        VirtualHost host(*chip);
        const DownloadReport report = DownloadStm32(host, {image, verify});
        const uint8_t want = static_cast<uint8_t>(image[0x4AC]);
        ASSERT_EQ(chip->flash()[0x4AC], want ^ 0x01);
        if (verify) {
            EXPECT_FALSE(report.success);
            auto hex2 = [](int v) { return QString::number(v, 16).rightJustified(2, QLatin1Char('0')).toUpper(); };
            EXPECT_EQ(host.log.last(),
                      QStringLiteral("校验失败：地址 0x080004AC 应为 0x%1，读出 0x%2").arg(hex2(want), hex2(want ^ 0x01)));
            EXPECT_EQ(report.failure, host.log.last());
            EXPECT_FALSE(host.log.contains(kSuccess));
            EXPECT_EQ(host.progress.back(), 0);
            EXPECT_FALSE(host.portOpen());
        } else {
            // Nothing read back: the download says so, and cannot know better.
            EXPECT_TRUE(report.success);
            EXPECT_TRUE(host.log.contains(QStringLiteral("未校验：写入的数据没有读回比较")));
        }
    }
}

TEST(Stm32Download, WireFaultsNeverPassAWrongFlash) {
    // Dropped and corrupted bytes in both directions: a download may fail,
    // but never claims success over a flash that differs from the image.
    const QByteArray image = randomImage(3000);
    int succeeded = 0;
    for (int seed = 1; seed <= 40; ++seed) {
        const bool verify = seed % 2 == 0;
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto chip = makeChip("stm32f103,corrupt=0.0002,drop=0.0001,seed=" + std::to_string(seed));
        VirtualHost host(*chip);
        const DownloadReport report = DownloadStm32(host, {image, verify});
        EXPECT_EQ(report.success, host.log.contains(kSuccess));
        if (report.success) {
            ++succeeded;
            EXPECT_TRUE(FlashHolds(chip->flash(), image));
        }
        EXPECT_FALSE(host.portOpen());
        EXPECT_EQ(host.progress.back(), 0);
    }
    // The faults are rare enough that some runs get through.
    EXPECT_GT(succeeded, 0);
    EXPECT_LT(succeeded, 40);
}

namespace {
// A receiver that hands every byte on as it comes (a converter without an
// event character): each reply arrives in pieces.
class BytewiseHost : public VirtualHost {
public:
    using VirtualHost::VirtualHost;
    void SetReplyDelay(int) override { VirtualHost::SetReplyDelay(0); }
};
} // namespace

TEST(Stm32Download, RepliesSplitOverSeveralReadsAreAssembled) {
    auto chip = makeChip("stm32f030");
    BytewiseHost host(*chip);
    const QByteArray image = randomImage(3000);
    const DownloadReport report = DownloadStm32(host, {image, true});
    ASSERT_TRUE(report.success) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(FlashHolds(chip->flash(), image));
    EXPECT_TRUE(InOrder(host.log, {"bootloader版本:3.1", "Device ID:0440", "FLASH大小: 64 KB"}));
}

TEST(Stm32Download, UnknownProductIdKeepsTheF1Rules) {
    sim::Stm32Model model = sim::stm32Models()[0];
    model.pid = 0x0999;
    Stm32Chip chip(model, {});
    VirtualHost host(chip);
    const QByteArray image = randomImage(3000);
    const DownloadReport report = DownloadStm32(host, {image, false});
    ASSERT_TRUE(report.success) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(report.chip, QStringLiteral("STM32 (0x0999)"));
    EXPECT_TRUE(InOrder(host.log, {"Device ID:0999",
                                   "未知的芯片ID 0x0999：按STM32F1处理（FLASH大小读自 0x1FFFF7E0，按 1024 字节一页擦除）",
                                   "FLASH大小: 64 KB", "文件大小： 3 KB"}));
    EXPECT_TRUE(FlashHolds(chip.flash(), image));
}


TEST(Stm32Download, AnImageAtItsOwnAddressLeavesTheRestOfTheFlashAlone) {
    // The flash holds a bootloader and data before and after the image: only
    // the image's bytes change, also within the pages it shares with them.
    const struct Row {
        const char* selector;
        uint32_t address;
        int size;
        bool verify;
        int firstPage, pages;
        bool keeps; // the image's pages hold bytes outside it
    } rows[] = {
        {"stm32f103", 0x08004000, 3000, false, 16, 3, true},   // behind a 16 KB bootloader
        {"stm32f103", 0x08004000, 4096, true, 16, 4, false},   // whole pages: nothing to keep
        {"stm32f030", 0x08004102, 301, true, 16, 1, true},     // inside one page, off the words (Extended Erase)
        {"stm32f103hd", 0x08004400, 5000, false, 8, 3, true},  // 2 KB pages: a page's start kept too
        {"stm32f103", 0x0800FF00, 256, true, 63, 1, true},     // up to the flash's last byte
        {"stm32f103", 0x08000000, 3000, true, 0, 3, true},     // from the flash start, as ever
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.selector) + " at " + QString::number(r.address, 16).toStdString() + ", " +
                     std::to_string(r.size) + " bytes");
        auto chip = makeChip(r.selector);
        const QByteArray before = usedFlash(*chip);
        fill(*chip, before);
        VirtualHost host(*chip);
        const QByteArray image = randomImage(r.size, r.address);
        const DownloadReport report = DownloadStm32(host, {image, r.verify, r.address});

        ASSERT_TRUE(report.success) << host.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(report.bytes, r.size);
        QByteArray want = before;
        want.replace(static_cast<qsizetype>(r.address - 0x08000000), image.size(), image);
        EXPECT_TRUE(SameFlash(flashOf(*chip), want));

        const auto erases = recorded(*chip, "erase of ");
        ASSERT_EQ(erases.size(), 1u);
        EXPECT_EQ(erases[0].note, "erase of " + std::to_string(r.pages) + " pages");
        // The list names the image's own pages: 43 BC N-1 first..., 44 BB 00 N-1 00 first...
        const bool extended = erases[0].bytes[0] == 0x44;
        EXPECT_EQ(erases[0].bytes[extended ? 5 : 3], r.firstPage);
        // The size lines count the image's own bytes.
        EXPECT_TRUE(host.log.contains(QStringLiteral("文件大小： %1 KB").arg(r.size / 1024 + 1)));
        if (r.verify) {
            EXPECT_TRUE(host.log.contains(QStringLiteral("校验成功：读回 %1 字节，与文件一致").arg(r.size)));
        }
        EXPECT_EQ(host.log.filter(QStringLiteral("擦除的页中映像以外的数据已读出")).size(), r.keeps ? 1 : 0);
        EXPECT_EQ(host.log.last(), kSuccess);
        // Every write at a word, of whole words.
        for (const auto& w : recorded(*chip, "Write ")) {
            EXPECT_EQ(w.bytes[5] % 4, 0);
            EXPECT_EQ((w.bytes[7] + 1) % 4, 0);
        }
    }
}

TEST(Stm32Download, WhatCannotBeWrittenSafelyIsRefusedBeforeTheErase) {
    // A chip whose 1 MB flash has 512 pages of 2 KB, on a bootloader that
    // erases with 0x43 (one-byte page numbers).
    sim::Stm32Model xl = sim::stm32Models()[0];
    xl.pid = 0x430;
    xl.flashSize = 1024 * 1024;
    xl.pageSize = 2048;
    sim::Stm32Model unknown = sim::stm32Models()[0];
    unknown.pid = 0x0999;
    const struct Row {
        const char* name;
        sim::Stm32Model model;
        uint32_t address;
        int size;
        bool unreadable;
        QString last;
    } rows[] = {
        {"starts below the flash", sim::stm32Models()[0], 0x07FFFF00, 512, false,
         "映像 0x07FFFF00 至 0x080000FF（512 字节）不在芯片FLASH 0x08000000 至 0x0800FFFF（64 KB）之内，未擦除也未写入"},
        {"ends beyond the flash", sim::stm32Models()[0], 0x0800FF00, 512, false,
         "映像 0x0800FF00 至 0x080100FF（512 字节）不在芯片FLASH 0x08000000 至 0x0800FFFF（64 KB）之内，未擦除也未写入"},
        {"below the flash of an unknown chip", unknown, 0x00000000, 16, false,
         "映像 0x00000000 至 0x0000000F（16 字节）不在芯片FLASH（从 0x08000000 起）之内，未擦除也未写入"},
        {"pages that Erase (0x43) cannot name", xl, 0x08080000, 16, false,
         "文件需要擦除第 256 至 256 页，擦除命令 0x43 只能指定第 0 至 255 页，未擦除也未写入"},
        {"bytes to keep that cannot be read", sim::stm32Models()[0], 0x08004010, 100, true,
         "擦除的页中映像以外的数据（0x08004000 至 0x0800400F、0x08004074 至 0x080043FF）读不出来，擦除会丢失它们：未擦除也未写入。"
         "读保护的芯片只能先解除读保护，而那会擦除整个FLASH"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Stm32Chip chip(r.model, {});
        const QByteArray before = usedFlash(chip);
        fill(chip, before);
        std::unique_ptr<WirePeer> wrapper;
        if (r.unreadable) wrapper = std::make_unique<FlashUnreadable>(chip);
        VirtualHost host(wrapper ? *wrapper : static_cast<WirePeer&>(chip));
        const DownloadReport report = DownloadStm32(host, {randomImage(r.size), true, r.address});

        EXPECT_FALSE(report.success);
        EXPECT_EQ(host.log.last(), r.last) << host.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(report.failure, r.last);
        EXPECT_TRUE(recorded(chip, "erase of ").empty());
        EXPECT_TRUE(recorded(chip, "Write ").empty());
        EXPECT_TRUE(SameFlash(flashOf(chip), before));
        EXPECT_FALSE(host.portOpen());
    }
}

TEST(Stm32Download, ABootloaderThatRunsAlreadyIsTakenAsConnected) {
    // Behind a pseudo-terminal there is no reset: a second download that opens
    // the port right after the first finds the bootloader still running, and
    // its start byte is refused (0x1F) instead of acknowledged.
    auto chip = makeChip("stm32f103");
    chip->setPtyMode(true);
    VirtualHost host(*chip);
    ASSERT_TRUE(DownloadStm32(host, {randomImage(3000, 1), false}).success);
    EXPECT_FALSE(host.log.contains(QStringLiteral("引导程序已在运行：起始字节 0x7F 得到 NACK 0x1F（芯片未复位，上次的连接仍在），继续")));
    host.log.clear();
    const int boots = chip->bootCount();
    const double started = host.elapsedSeconds();
    const QByteArray image = randomImage(3000, 2);
    const DownloadReport report = DownloadStm32(host, {image, true});
    ASSERT_TRUE(report.success) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(chip->bootCount(), boots) << "the chip was not restarted in between";
    EXPECT_TRUE(InOrder(host.log, {"正在连机...",
                                   "引导程序已在运行：起始字节 0x7F 得到 NACK 0x1F（芯片未复位，上次的连接仍在），继续",
                                   "连接成功", "bootloader版本:2.2"}));
    EXPECT_TRUE(FlashHolds(chip->flash(), image));
    // No wait for an acknowledge that never comes.
    EXPECT_LT(host.elapsedSeconds() - started, 3.0);
}
// The user stops the download at any moment, --verify or not: "下载已取消"
// is the last line, and nothing that did not happen follows it.
TEST(Stm32Download, AStopIsTheLastLineWhereverItComes) {
    const QByteArray image = randomImage(3000);
    for (bool verify : {false, true}) {
        auto whole = makeChip("stm32f103");
        VirtualHost wholeHost(*whole);
        ASSERT_TRUE(DownloadStm32(wholeHost, {image, verify}).success);
        int stopped = 0;
        for (double at = 0.02; at < wholeHost.elapsedSeconds(); at += 0.02) {
            auto chip = makeChip("stm32f103");
            VirtualHost host(*chip);
            host.cancelAfterSeconds = at;
            const DownloadReport report = DownloadStm32(host, {image, verify});
            if (report.success) continue; // stopped after the last wait
            ++stopped;
            const std::string where = (verify ? "verified, stopped at " : "stopped at ") + std::to_string(at) + " s";
            EXPECT_EQ(host.log.last(), "下载已取消") << where << "\n" << host.log.join('\n').toStdString();
            EXPECT_EQ(host.log.count("下载已取消"), 1) << where;
            EXPECT_FALSE(host.portOpen()) << where;
        }
        EXPECT_GT(stopped, 20);
    }
}
