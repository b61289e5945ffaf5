// STC downloads end to end against the chip simulators, in virtual time: the
// sweep of chip types, speed modes and crystals, the log, the failure rows
// of every step, and the faults that must never end in success over a wrong
// flash.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "common/QtPrinters.h"
#include "protocol/CMcuType.h"
#include "protocol/Diagnosis.h"
#include "protocol/StcModels.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {

QByteArray pattern(int n, uint32_t seed = 1) {
    QByteArray b(n, '\0');
    uint32_t x = 2463534242u ^ (seed * 0x9E3779B9u);
    for (int i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<char>(x & 0xFF);
    }
    return b;
}

const QString kDone = QString(39, u' ') + QStringLiteral("文 件 下 载 完 毕!");
const QString kSuccess = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");

struct StcRun {
    std::unique_ptr<sim::StcChip> chip;
    std::unique_ptr<sim::VirtualHost> host;
    DownloadReport report;
    QByteArray image;

    QByteArray flash(int n) const {
        return QByteArray(reinterpret_cast<const char*>(chip->flash().data()), std::min<int>(n, chip->flash().size()));
    }
    bool flashHoldsImage() const { return flash(image.size()) == image; }
    bool succeeded() const { return host->log.contains(kSuccess); }
    QString logText() const { return host->log.join('\n'); }
};

// One download of `image` into the chip `selector`, as chip type `chipType`.
StcRun download(const std::string& selector, int chipType, const QByteArray& image, bool lowSpeed = false,
             const std::function<void(StcRun&)>& before = {}) {
    StcRun r;
    std::string error;
    auto chip = sim::makeChip(selector, &error);
    EXPECT_TRUE(chip) << error;
    r.chip.reset(dynamic_cast<sim::StcChip*>(chip.release()));
    r.host = std::make_unique<sim::VirtualHost>(*r.chip);
    r.image = image;
    if (before) before(r);
    StcOptions o;
    o.chipType = chipType;
    o.lowSpeed = lowSpeed;
    o.image = image;
    CMcuType mcu(*r.host, o);
    r.report = mcu.RunStcDownload();
    return r;
}

// The simulators, as a user would select them.
struct StcChipRow {
    const char* chip;
    int chipType;
};
const StcChipRow kStcChips[] = {{"stc89c52rc", 1}, {"stc90c516", 4}, {"stc12c5a60s2", 3}, {"stc11f60", 2}};

// The write frames the chip received (taken or not), by block address.
std::vector<int> writeAddresses(const sim::SimChip& chip) {
    std::vector<int> at;
    for (const auto& f : chip.frames())
        if (f.bytes.size() >= 12 + 128 && f.bytes[5] == 0x00) at.push_back(f.bytes[8] << 8 | f.bytes[9]);
    return at;
}

// The erase frame the chip received, if any.
std::optional<sim::Bytes> eraseFrame(const sim::SimChip& chip) {
    for (const auto& f : chip.frames())
        if (f.bytes.size() > 6 && f.bytes[5] == 0x84) return f.bytes;
    return std::nullopt;
}

int chipTypeOf(const std::string& selector) {
    if (selector.rfind("stc89", 0) == 0) return 1;
    if (selector.rfind("stc11", 0) == 0) return 2;
    if (selector.rfind("stc12", 0) == 0) return 3;
    return 4;
}

} // namespace

// Every chip type, both speed modes, the crystals from 6 to 35 MHz, 12- and
// 6-clock STC89: either the flash holds the image (padding and zero block
// written, nothing beyond) with the progress back at 0 and the port closed,
// or -- only where no rate works -- the crystal is refused before any switch.
TEST(StcDownload, SweepOfChipsSpeedsAndCrystals) {
    const double crystals[] = {6, 11.0592, 12, 16, 18.432, 20, 22.1184, 24, 27, 30, 33, 35};
    const QByteArray image = pattern(700);
    int downloads = 0;
    for (const char* model : {"stc89c52rc", "stc89c52rc,clock=6", "stc90c516", "stc12c5a60s2", "stc11f60"})
        for (double f : crystals)
            for (bool low : {false, true}) {
                const std::string selector = std::string(model) + ",freq=" + std::to_string(f);
                const StcRun r = download(selector, chipTypeOf(model), image, low);
                const std::string where = selector + (low ? " low speed" : " high speed");
                const RateChoice want = ChooseDownloadBaud(r.report.crystalMHz, low ? 4800 : 1200,
                                                           ChipTypeAt(chipTypeOf(model)).stc()->familyCode,
                                                           QString(model).contains("clock=6"));
                if (!want.ok) {
                    EXPECT_FALSE(r.report.success) << where;
                    EXPECT_EQ(r.host->messages, QStringList{"当前不支持这种晶振"}) << where;
                    EXPECT_TRUE(r.flash(64) == QByteArray(64, '\xFF')) << where << ": nothing erased or written";
                    continue;
                }
                ++downloads;
                EXPECT_TRUE(r.report.success) << where << "\n" << r.logText().toStdString();
                EXPECT_TRUE(r.flashHoldsImage()) << where;
                // The padding of the last block and the zero block, then untouched flash.
                EXPECT_EQ(r.flash(896).mid(700), QByteArray(196, '\0')) << where;
                EXPECT_EQ(static_cast<uint8_t>(r.chip->flash()[896]), 0xFF) << where;
                EXPECT_EQ(r.host->progress.back(), 0) << where;
                EXPECT_FALSE(r.host->portOpen()) << where;
                // A 6-clock chip counts twice as fast: the host reads twice the crystal.
                const double seen = f * (QString(model).contains("clock=6") ? 2 : 1);
                EXPECT_NEAR(r.report.crystalMHz, seen, seen * 0.005) << where;
            }
    EXPECT_GE(downloads, 95);
}

TEST(StcDownload, TheLogOfEachFamilyInOrder) {
    const QStringList one = {"正在连机...", "型号 STC89C52RC/LE52RC，程序空间 8 KB，EEPROM 6 KB", "晶振频率: 11.054511 MHZ", "下载波特率: 57600 (重装值 FA，芯片实际 57576 波特)",
                             "调整波特率...", "MCU Version:4.3C", "STC89C52", "调整波特率1完成!", "调整波特率2完成!",
                             "正在发送控制信息...", "正在擦除用户程序区...", "擦除用户程序区完成!",
                             "正在下载数据,请稍侯... ...", kDone, kSuccess};
    StcRun r = download("stc89c52rc", 1, pattern(300));
    EXPECT_EQ(r.host->log, one);
    EXPECT_EQ(r.report.chip, "STC89C52");
    EXPECT_EQ(r.report.baud, 57600u);
    // Four frames of blocks: 0000, 0080, 0100 and the zero block at 0180.
    int writes = 0;
    for (const auto& f : r.chip->frames())
        if (f.bytes.size() == 142 && f.bytes[5] == 0x00) ++writes;
    EXPECT_EQ(writes, 4);
    EXPECT_EQ(r.chip->erasedBytes(), 512u) << "two pages cover the image and its zero block";
    EXPECT_EQ(r.host->progress, (std::vector<int>{341, 682, 1023, 1024, 0}));

    const QStringList two = {"正在连机...", "型号 STC12C5A60S2，程序空间 60 KB，EEPROM 2 KB", "晶振频率: 11.063646 MHZ", "下载波特率: 38400 (重装值 EE，芯片实际 38415 波特)",
                             "调整波特率...", "MCU Version:6.2I", "STC11F", "调整波特率1完成!", "调整波特率2完成!",
                             "正在发送控制信息...", "正在下载数据,请稍侯... ...", kDone, kSuccess};
    r = download("stc12c5a60s2", 3, pattern(300));
    EXPECT_EQ(r.host->log, two);
    // Low speed: the fixed forms, no rate change.
    r = download("stc90c516", 4, pattern(300), true);
    EXPECT_TRUE(r.succeeded()) << r.logText().toStdString();
    EXPECT_EQ(r.host->hostSettings().baud, 4800u);
    EXPECT_TRUE(r.host->log.contains("STC90C516"));
}

// Each step that goes unanswered ends the download with its own line; the
// chip goes silent after N frames of its session.
TEST(StcDownload, EveryStepThatGoesUnansweredSaysWhich) {
    struct Case {
        const char* chip;
        int chipType;
        int silentAfter;
        const char* line;
    };
    const Case cases[] = {
        {"stc89c52rc", 1, 0, "调整波特率一超时"}, {"stc89c52rc", 1, 1, "调整波特率二超时"},
        {"stc89c52rc", 1, 2, "写芯片超时!"},     {"stc89c52rc", 1, 6, "写芯片超时!"},
        {"stc89c52rc", 1, 7, "擦除失败!"},       {"stc89c52rc", 1, 8, "写数据失败，重试!"},
        {"stc89c52rc", 1, 11, "写数据失败，重试!"}, {"stc89c52rc", 1, 12, "写数据超时"},
        {"stc89c52rc", 1, 13, "写数据超时"},
        {"stc12c5a60s2", 3, 0, "调整波特率一超时"}, {"stc12c5a60s2", 3, 1, "调整波特率二超时"},
        {"stc12c5a60s2", 3, 2, "调整波特率二超时"}, {"stc12c5a60s2", 3, 3, "擦除失败"},
        {"stc12c5a60s2", 3, 4, "写数据失败，重试!"}, {"stc12c5a60s2", 3, 8, "写数据超时"},
    };
    for (const Case& c : cases) {
        const StcRun r = download(std::string(c.chip) + ",silent-after=" + std::to_string(c.silentAfter), c.chipType,
                               pattern(300));
        EXPECT_FALSE(r.succeeded()) << c.chip << " silent after " << c.silentAfter;
        EXPECT_EQ(r.host->log.last(), c.line) << c.chip << " silent after " << c.silentAfter;
        EXPECT_GE(r.host->endDownloads, 1);
        EXPECT_FALSE(r.host->portOpen());
    }
    // The STC90 sends its closing 82 without waiting: a silent chip there still succeeds.
    EXPECT_TRUE(download("stc90c516,silent-after=12", 4, pattern(300)).succeeded());
}

TEST(StcDownload, NoChipABadStatusFrameAndTheTimeItTakes) {
    // Nothing comes back: the connection diagnosis after 31 ticks.
    StcRun r = download("stc89c52rc,truncate-status=0", 1, pattern(300));
    EXPECT_EQ(r.host->log, (QStringList{"正在连机...", "连接超时...", ConnectDiagnosisText()}));
    EXPECT_NEAR(r.host->elapsedSeconds(), 3.1, 0.15);
    // A status frame cut short is never computed from: no answer, and what came is named.
    r = download("stc89c52rc,truncate-status=30", 1, pattern(300));
    ASSERT_EQ(r.host->log.size(), 4);
    EXPECT_EQ(r.host->log[1], "连接超时...");
    EXPECT_TRUE(r.host->log[2].startsWith("收到 30 字节，但没有完整的状态帧")) << r.host->log[2].toStdString();
    EXPECT_EQ(r.report.crystalMHz, 0.0);
}

TEST(StcDownload, ResendsAndCheckedAcknowledges) {
    // A block refused once, twice, three times: answered after a resend each
    // time (0.9 s, 1.8 s, 2.7 s); refused four times: the transfer fails.
    for (int refusals : {1, 2, 3, 4}) {
        const StcRun r = download("stc89c52rc,nack-block=2,nack-count=" + std::to_string(refusals), 1, pattern(300));
        EXPECT_EQ(r.succeeded(), refusals < 4) << refusals;
        EXPECT_EQ(r.flashHoldsImage(), refusals < 4) << refusals;
        if (refusals == 4) {
            EXPECT_EQ(r.host->log.last(), "写数据失败，重试!");
        }
    }
    // The chip's answer carries a wrong sum: treated as no answer, the block
    // goes again, and the flash is right in the end.
    for (const char* chip : {"stc89c52rc,bad-ack=2", "stc12c5a60s2,bad-ack=1"}) {
        const StcRun r = download(chip, chipTypeOf(chip), pattern(1000));
        EXPECT_TRUE(r.succeeded()) << chip;
        EXPECT_TRUE(r.flashHoldsImage()) << chip;
        int writes = 0;
        for (const auto& f : r.chip->frames())
            if (f.note.find("written") != std::string::npos) ++writes;
        EXPECT_EQ(writes, 1000 / 128 + 2 + 1) << chip << ": one block twice";
    }
}

// Faults on the wire or in the chip: whatever happens, a success line only
// over a flash that holds the image.  (Noise on an 8N1 line that flips bits
// in two bytes of one frame so that its sum stays the same cannot be told
// by any host of this protocol -- there is no read-back -- so corruption is
// swept on the 8E1 family, where the parity bit catches each flipped byte.)
TEST(StcDownload, FaultsNeverEndInSuccessOverAWrongFlash) {
    int failures = 0, successes = 0;
    const std::pair<const char*, std::vector<const char*>> cases[] = {
        {"stc89c52rc", {"drop=0.002", "hangup-block=3", "delay=7", "truncate-status=40", "nack-block=2,nack-count=9"}},
        {"stc12c5a60s2", {"drop=0.002", "corrupt=0.002", "corrupt=0.01", "hangup-block=3", "delay=7", "bad-ack=4"}},
    };
    for (const auto& [chip, faults] : cases)
        for (const char* fault : faults)
            for (int seed = 1; seed <= 6; ++seed) {
                const std::string selector = std::string(chip) + "," + fault + ",seed=" + std::to_string(seed);
                const StcRun r = download(selector, chipTypeOf(chip), pattern(2000, seed));
                if (r.succeeded()) {
                    ++successes;
                    EXPECT_TRUE(r.flashHoldsImage()) << selector;
                    EXPECT_TRUE(r.report.success) << selector;
                } else {
                    ++failures;
                    EXPECT_FALSE(r.report.success) << selector;
                    EXPECT_FALSE(r.host->portOpen()) << selector;
                }
            }
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
}

// A chip holding other firmware (every bit cleared), reprogrammed with a
// larger image: the erase covers it all, the flash ends with exactly the new image.
TEST(StcDownload, ReprogrammingOverOlderFirmware) {
    for (const char* chip : {"stc89c52rc", "stc90c516", "stc12c5a60s2"}) {
        const QByteArray image = pattern(5000, 3);
        const StcRun r = download(chip, chipTypeOf(chip), image, false, [](StcRun& run) {
            std::fill(run.chip->flash().begin(), run.chip->flash().end(), 0x00);
        });
        EXPECT_TRUE(r.succeeded()) << chip;
        EXPECT_TRUE(r.flashHoldsImage()) << chip;
    }
}

TEST(StcDownload, PortFailuresAStopAndNoChipType) {
    // The port cannot be opened: the port diagnosis.
    StcRun r = download("stc89c52rc", 1, pattern(300), false, [](StcRun& run) {
        run.host->failOpen = [](int n) { return n == 1; };
    });
    EXPECT_EQ(r.host->log, QStringList{PortDiagnosisText()});
    // A re-open in the rate switch fails: the download ends after the box, no line.
    r = download("stc89c52rc", 1, pattern(300), false, [](StcRun& run) {
        run.host->failOpen = [](int n) { return n == 2; };
    });
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.host->messages.size(), 1);
    EXPECT_EQ(r.host->log.last(), "STC89C52");
    // The port does not take a new rate: one line names the rate and why.
    r = download("stc12c5a60s2", 3, pattern(300), false, [](StcRun& run) {
        run.host->failConfigure = [](uint32_t baud) { return baud == 1200; };
    });
    EXPECT_FALSE(r.succeeded());
    EXPECT_TRUE(r.host->log.last().contains("1200 波特")) << r.host->log.last().toStdString();
    EXPECT_TRUE(r.host->log.last().contains("staged failure"));
    // The user stops it in the middle of the transfer.
    r = download("stc89c52rc", 1, pattern(8000), false, [](StcRun& run) { run.host->cancelAfterSeconds = 3.0; });
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.host->log.last(), "下载已取消") << r.logText().toStdString();
    EXPECT_FALSE(r.host->portOpen());
    // No chip type selected: the handshake runs, then the sequence stops.
    r = download("stc89c52rc", -1, pattern(300));
    EXPECT_EQ(r.host->log.last(), " 不支持这种MCU");
}

// Behind a converter whose driver cannot tell when its transmitter is empty,
// the switch frames at 1200 baud are still on the wire when the write
// returns: the port is re-opened or re-configured only once they have left,
// so each chip hears them whole.  The waits cost well under half a second.
TEST(StcDownload, ARateChangeWaitsForTheFrameOnTheWire) {
    for (const StcChipRow& c : kStcChips) {
        for (bool low : {false, true}) {
            const std::string where = std::string(c.chip) + (low ? " low speed" : " high speed");
            const StcRun r = download(c.chip, c.chipType, pattern(3000), low,
                                      [](StcRun& run) { run.host->writeReturnsAtOnce = true; });
            EXPECT_TRUE(r.report.success) << where << "\n" << r.logText().toStdString();
            EXPECT_TRUE(r.flashHoldsImage()) << where;
            EXPECT_TRUE(r.chip->rejectedFrames().empty()) << where << ": " << r.chip->rejectedFrames().front().note;
            EXPECT_LT(r.host->lineWaitSeconds, 0.5) << where;
        }
    }
}

// The user stops the download at any moment: "下载已取消" is the last line,
// and no line of a timeout or failure that did not happen follows it.
TEST(StcDownload, AStopIsTheLastLineWhereverItComes) {
    for (const StcChipRow& c : kStcChips) {
        for (bool low : {false, true}) {
            const StcRun whole = download(c.chip, c.chipType, pattern(1000), low);
            ASSERT_TRUE(whole.report.success) << c.chip;
            int stopped = 0;
            for (double at = 0.05; at < whole.host->elapsedSeconds(); at += 0.05) {
                const StcRun r = download(c.chip, c.chipType, pattern(1000), low,
                                          [at](StcRun& run) { run.host->cancelAfterSeconds = at; });
                if (r.report.success) continue; // stopped after the last wait
                ++stopped;
                const std::string where = std::string(c.chip) + (low ? " low" : " high") + " speed, stopped at " +
                                          std::to_string(at) + " s";
                EXPECT_EQ(r.host->log.last(), "下载已取消") << where << "\n" << r.logText().toStdString();
                EXPECT_EQ(r.host->log.count("下载已取消"), 1) << where;
                EXPECT_FALSE(r.host->portOpen()) << where;
            }
            EXPECT_GT(stopped, 10) << c.chip;
        }
    }
}

// The model code names the chip and its code flash.  An image up to the end
// of the code flash goes in whole (the closing zero block is sent only where
// it lies within the flash, and the erase stays within it too); one byte
// more is refused before anything is erased, and the old program stays.
TEST(StcDownload, ImagesUpToTheCodeFlashAndNotOneByteMore) {
    for (const StcChipRow& c : kStcChips) {
        const int flash = static_cast<int>(sim::findStcModel(c.chip)->flashSize);
        for (int size : {flash - 129, flash - 100, flash, flash + 1}) {
            const std::string where = std::string(c.chip) + ", " + std::to_string(size) + " bytes";
            const StcRun r = download(c.chip, c.chipType, pattern(size, 7), false, [](StcRun& run) {
                std::fill(run.chip->flash().begin(), run.chip->flash().end(), 0x5A); // a program from before
            });
            const std::vector<int> writes = writeAddresses(*r.chip);
            if (size > flash) {
                EXPECT_FALSE(r.report.success) << where;
                EXPECT_EQ(r.host->log.last(), QStringLiteral("文件大小 %1 字节超出芯片 %2（型号代码 %3）的程序区 %4 字节，未擦除也未写入")
                                                  .arg(size)
                                                  .arg(protocol::StcModelName(static_cast<uint16_t>(
                                                      r.chip->model().model[0] << 8 | r.chip->model().model[1])))
                                                  .arg(QString::fromStdString(sim::hexBytes(r.chip->model().model, 2)).remove(' '))
                                                  .arg(flash))
                    << where;
                EXPECT_FALSE(eraseFrame(*r.chip)) << where << ": erased";
                EXPECT_TRUE(writes.empty()) << where;
                EXPECT_TRUE(r.flash(flash) == QByteArray(flash, '\x5A')) << where;
                EXPECT_TRUE(r.host->messages.isEmpty()) << where;
                EXPECT_FALSE(r.host->portOpen()) << where;
                continue;
            }
            EXPECT_TRUE(r.report.success) << where << "\n" << r.logText().toStdString();
            EXPECT_TRUE(r.flashHoldsImage()) << where;
            EXPECT_TRUE(r.chip->rejectedFrames().empty()) << where << ": " << r.chip->rejectedFrames().front().note;
            // Blocks only within the flash; the zero block where it fits.
            const int imageBlocks = (size + 127) / 128;
            const bool zeroBlock = imageBlocks * 128 < flash;
            EXPECT_EQ(static_cast<int>(writes.size()), imageBlocks + (zeroBlock ? 1 : 0)) << where;
            if (zeroBlock) {
                const int end = imageBlocks * 128 + 128;
                EXPECT_EQ(r.flash(end).mid(size), QByteArray(end - size, '\0')) << where;
            }
            // Pages from address 0, none beyond the code flash.
            const std::optional<sim::Bytes> erase = eraseFrame(*r.chip);
            ASSERT_TRUE(erase) << where;
            const int pages = c.chipType == 1 || c.chipType == 4 ? (*erase)[6] : (*erase)[8];
            EXPECT_LE(pages * 256, flash) << where;
            EXPECT_GE(pages * 256, std::min(flash, imageBlocks * 128)) << where;
        }
    }
}

// A model code the table does not know: one line says so, and the download
// goes on unlimited (erase pages by the blocks, the zero block sent).
TEST(StcDownload, AnUnknownModelCodeIsSaidOnceAndNotLimited) {
    sim::StcModel model = *sim::findStcModel("stc89c52rc");
    model.model[0] = 0xF0;
    model.model[1] = 0xEE;
    sim::StcChip chip(model, {});
    sim::VirtualHost host(chip);
    StcOptions o;
    o.chipType = 1;
    o.image = pattern(700);
    CMcuType mcu(host, o);
    EXPECT_TRUE(mcu.RunStcDownload().success) << host.log.join('\n').toStdString();
    EXPECT_EQ(host.log.filter(QStringLiteral("型号代码")), QStringList{"未知的型号代码 F0EE：芯片程序区大小未知，不检查文件大小"});
    EXPECT_EQ(host.log[1], "未知的型号代码 F0EE：芯片程序区大小未知，不检查文件大小");
    EXPECT_EQ(writeAddresses(chip).back(), 6 * 128);
    EXPECT_EQ((*eraseFrame(chip))[6], StcErasePages(7 * 128));
}

// A two-byte-family chip with 8 KB of code flash (STC11F08XE, model code
// D364): the erase frame names its 32 pages, not the family's 60 KB, and an
// image that fills the 8 KB goes in whole.
TEST(StcDownload, TheTwoByteEraseCoversTheImageAndStaysWithinTheFlash) {
    // The erase frame names 60 KB (F0 pages) unless the chip's flash is
    // smaller, or the image reaches beyond 60 KB on a larger flash.  The
    // flash held an older program: bytes outside the erase keep its bits.
    const struct Row {
        uint8_t code[2];
        size_t flash;
        int imageBytes;
        int pages;
    } rows[] = {
        {{0xD3, 0x64}, 8192, 8192, 0x20},    // STC11F08XE: 8 KB
        {{0xD3, 0x7E}, 61440, 4096, 0xF0},   // STC11F60XE: the fixed 60 KB
        {{0xD3, 0x1F}, 63488, 63488, 0xF8},  // IAP11F62: 62 KB, filled to the last byte
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.flash);
        sim::StcModel model = *sim::findStcModel("stc11f60");
        model.model[0] = r.code[0];
        model.model[1] = r.code[1];
        model.flashSize = r.flash;
        sim::StcChip chip(model, {});
        std::fill(chip.flash().begin(), chip.flash().end(), uint8_t(0x5A));
        sim::VirtualHost host(chip);
        const QByteArray image = pattern(r.imageBytes, 9);
        StcOptions o;
        o.chipType = 2;
        o.image = image;
        CMcuType mcu(host, o);
        EXPECT_TRUE(mcu.RunStcDownload().success) << host.log.join('\n').toStdString();
        const std::optional<sim::Bytes> erase = eraseFrame(chip);
        ASSERT_TRUE(erase);
        EXPECT_EQ((*erase)[8], r.pages);
        EXPECT_EQ((*erase)[11], r.pages);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(chip.flash().data()), image.size()), image);
    }
}

// One copy of a block lost on the wire (the chip takes the resend): the
// blocks after it with the same data sum -- runs of FF, runs of 00 and the
// zero block -- go once each, at once.  The download takes about one resend
// interval longer than without the loss.
TEST(StcDownload, ALostBlockCostsItsResendAndNothingMore) {
    QByteArray image = pattern(1024, 5);     // blocks 1-8
    image += QByteArray(2048, '\xFF');       // blocks 9-24
    image += QByteArray(1024, '\0');         // blocks 25-32, then the zero block
    for (const StcChipRow& c : kStcChips) {
        const StcRun clean = download(c.chip, c.chipType, image);
        ASSERT_TRUE(clean.report.success) << c.chip;
        for (int lost : {9, 25}) {
            const std::string selector = std::string(c.chip) + ",nack-block=" + std::to_string(lost);
            const StcRun r = download(selector, c.chipType, image);
            EXPECT_TRUE(r.report.success) << selector;
            EXPECT_TRUE(r.flashHoldsImage()) << selector;
            EXPECT_EQ(writeAddresses(*r.chip).size(), writeAddresses(*clean.chip).size() + 1) << selector;
            // The resend interval, the copy's own wire time and the chip's
            // other write time (the STC11F's vary by 0.1 s).
            EXPECT_LE(r.host->elapsedSeconds(), clean.host->elapsedSeconds() + 1.2) << selector;
        }
    }
}
