// Whole STC downloads in virtual time on the STC15A, STC15 and STC8
// simulators and, with the family from the status frame, on every STC
// simulator: the trim reaches the user frequency, the flash holds the image,
// the chip's option bytes stay; a chip of another family stops the download
// before the switch naming the chip type to choose; a transfer rate the
// chip's timer cannot make is refused before the switch.
#include <gtest/gtest.h>

#include <cmath>

#include "common/QtPrinters.h"
#include "protocol/CMcuType.h"
#include "protocol/ChipTypes.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/StcModernChip.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {

QByteArray image(int n) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>(i * 29 + 7 + i / 251);
    return b;
}

const QString kSuccess = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");

struct ModernRun {
    std::unique_ptr<sim::SimChip> chip;
    std::unique_ptr<sim::VirtualHost> host;
    DownloadReport report;

    sim::StcModernChip* modern() const { return dynamic_cast<sim::StcModernChip*>(chip.get()); }
    bool flashHolds(const QByteArray& img) const {
        return chip->flash().size() >= static_cast<size_t>(img.size()) &&
               std::equal(img.begin(), img.end(), chip->flash().begin(),
                          [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    }
    bool untouched(int n) const {
        return std::all_of(chip->flash().begin(), chip->flash().begin() + n, [](uint8_t b) { return b == 0xFF; });
    }
    std::string log() const { return host->log.join('\n').toStdString(); }
};

ModernRun download(const std::string& selector, StcOptions o) {
    ModernRun r;
    std::string error;
    r.chip = sim::makeChip(selector, &error);
    EXPECT_TRUE(r.chip) << error;
    r.host = std::make_unique<sim::VirtualHost>(*r.chip);
    r.report = CMcuType(*r.host, std::move(o)).RunStcDownload();
    return r;
}

StcOptions options(int chipType, const QByteArray& img, double mhz = 0, uint32_t baud = 0) {
    StcOptions o;
    o.chipType = chipType;
    o.autoFamily = chipType < 0;
    o.image = img;
    o.userHz = mhz * 1e6;
    o.transferBaud = baud;
    return o;
}

constexpr int kStc15 = 5, kStc8 = 6, kAuto = -1;

} // namespace

TEST(StcModernDownload, ChipTypesAreAppendedAndNamed) {
    EXPECT_EQ(ChipTypeAt(kStc15).listText, std::string("STC15系列"));
    EXPECT_EQ(ChipTypeAt(kStc8).listText, std::string("STC8系列"));
    EXPECT_EQ(ChipTypeByName("stc15"), kStc15);
    EXPECT_EQ(ChipTypeByName("stc8"), kStc8);
    EXPECT_EQ(ChipTypeByName("STC90C5XX系列"), 4); // the stored indexes keep their entries
}

// Every new simulator, as its chip type and with the family from the status
// frame, at several user frequencies and rates, in both speed modes: the
// flash holds the image, the chip runs at the user frequency (its next
// status says so), its option bytes are those it had.
TEST(StcModernDownload, SweepOfSimulatorsFrequenciesAndRates) {
    struct Row {
        const char* selector;
        int chipType;
        double mhz;     // 0: as the chip runs now
        uint32_t baud;  // 0: the speed mode's
        bool lowSpeed;
        int bytes;
    };
    const Row rows[] = {
        {"stc15f104e", kStc15, 0, 0, false, 4096},
        {"stc15f104e,rc=3", kStc15, 6, 57600, false, 1000},
        {"stc15f104e", kStc15, 24, 0, true, 700},
        {"iap15f2k61s2", kStc15, 0, 0, false, 5000},
        {"iap15f2k61s2,rc=-2", kStc15, 33, 38400, false, 300},
        {"iap15f2k61s2", kStc15, 11.0592, 0, true, 300},
        {"stc15w4k56s4", kStc15, 22.1184, 0, false, 57344},
        {"stc15w4k56s4,freq=12", kStc15, 0, 19200, false, 129},
        {"stc8a8k64s4a12", kStc8, 0, 0, false, 3000},
        {"stc8a8k64s4a12", kStc8, 11.0592, 9600, false, 65},
        {"stc8a8k64s4a12,rc=1.5", kStc8, 30, 0, true, 64},
        {"stc8a8k64s4a12", kStc8, 14, 0, false, 500},
        {"stc8g1k08,freq=11.0592", kStc8, 0, 0, false, 8192},
        {"stc8g1k08", kStc8, 30, 0, false, 200},
    };
    for (const Row& row : rows)
        for (const bool automatic : {false, true}) {
            const std::string where = std::string(row.selector) + (automatic ? " auto" : "") + " " +
                                      std::to_string(row.mhz) + " MHz";
            const QByteArray img = image(row.bytes);
            StcOptions o = options(automatic ? kAuto : row.chipType, img, row.mhz, row.baud);
            o.lowSpeed = row.lowSpeed;
            ModernRun r = download(std::string(row.selector) + ",seed=3", o);
            ASSERT_TRUE(r.modern()) << where;
            const double before = r.modern()->userHz();
            std::string error;
            const auto fresh = sim::makeChip(row.selector, &error);
            const sim::Bytes optionsBefore = dynamic_cast<sim::StcModernChip&>(*fresh).optionBytes();
            EXPECT_TRUE(r.report.success) << where << "\n" << r.log();
            EXPECT_TRUE(r.flashHolds(img)) << where;
            EXPECT_EQ(r.modern()->state(), sim::StcModernChip::State::Done) << where;
            EXPECT_TRUE(r.chip->rejectedFrames().empty()) << where << ": " << r.chip->rejectedFrames().front().note;
            const double want = row.mhz > 0 ? row.mhz * 1e6 : before;
            EXPECT_NEAR(r.modern()->userHz(), want, want * 0.005) << where;
            EXPECT_EQ(r.report.baud, row.baud ? row.baud : row.lowSpeed ? 4800u : kStcModernHighSpeedBaud) << where;
            // The option bytes the chip had, less those the trim itself lives in (STC15A MCS3-MCS4).
            sim::Bytes after = r.modern()->optionBytes();
            sim::Bytes kept = optionsBefore;
            if (r.modern()->model().protocol == sim::ModernProtocol::Stc15a) {
                after.erase(after.begin() + 3, after.begin() + 5);
                kept.erase(kept.begin() + 3, kept.begin() + 5);
            }
            EXPECT_EQ(after, kept) << where;
            // The target: the one asked for, or what the status frame says the chip runs at.
            const QString target = row.mhz > 0 ? QStringLiteral("校准频率... 目标 %1 MHz").arg(row.mhz, 0, 'f', 4)
                                                : QStringLiteral("校准频率... 目标 ");
            EXPECT_EQ(r.host->log.filter(target).size(), 1) << where << "\n" << r.log();
            EXPECT_FALSE(r.host->portOpen());
        }
}

// `--chip auto` on the older families' simulators: the family from the
// status frame, the download as with the chip type chosen.
TEST(StcModernDownload, AutoOnTheOlderFamilies) {
    const struct {
        const char* selector;
        const char* listText;
    } rows[] = {{"stc89c52rc", "STC89C5XX系列"}, {"stc90c516", "STC90C5XX系列"},
                {"stc12c5a60s2", "STC12C60系列"}, {"stc11f60", "STC11F60系列"}};
    for (const auto& row : rows) {
        for (const bool low : {false, true}) {
            const QByteArray img = image(2000);
            StcOptions o = options(kAuto, img);
            o.lowSpeed = low;
            ModernRun r = download(row.selector, o);
            EXPECT_TRUE(r.report.success) << row.selector << "\n" << r.log();
            EXPECT_TRUE(r.flashHolds(img)) << row.selector;
            EXPECT_TRUE(r.host->log.contains(QStringLiteral("芯片类型：%1（由芯片的状态帧判断）").arg(row.listText)))
                << r.log();
        }
    }
}

// A chip of another family: one line naming it and the chip type to
// choose, before the rate switch; nothing erased.  Crosswise over the
// families, old and new.
TEST(StcModernDownload, WrongChipTypeStopsBeforeTheSwitch) {
    const struct {
        const char* selector;
        int chosen;
        const char* model;
        int suggested;
    } rows[] = {
        {"stc12c5a60s2", 1, "STC12C5A60S2", 3}, {"stc89c52rc", 3, "STC89C52RC", 1},
        {"iap15f2k61s2", 1, "IAP15F2K61S2", kStc15}, {"iap15f2k61s2", 3, "IAP15F2K61S2", kStc15},
        {"stc15f104e", kStc8, "STC15F104E", kStc15}, {"stc8a8k64s4a12", kStc15, "STC8A8K64S4A12", kStc8},
        {"stc8g1k08", 2, "STC8G1K08", kStc8},        {"stc11f60", kStc15, "STC11F60", 2},
        {"stc89c52rc", kStc8, "STC89C52RC", 1},
    };
    for (const auto& row : rows) {
        ModernRun r = download(std::string(row.selector) + ",freq=11.0592", options(row.chosen, image(600), 11.0592));
        const std::string where = std::string(row.selector) + " as " + ChipTypeAt(row.chosen).listText;
        EXPECT_FALSE(r.report.success) << where;
        EXPECT_EQ(r.report.suggestedChipType, row.suggested) << where << "\n" << r.log();
        const QString last = r.host->log.last();
        EXPECT_TRUE(last.contains(row.model)) << where << ": " << last.toStdString();
        EXPECT_TRUE(last.contains(QStringLiteral("“%1”").arg(ChipTypeAt(row.suggested).listText))) << last.toStdString();
        EXPECT_FALSE(r.host->log.join('\n').contains(QStringLiteral("调整波特率"))) << where;
        EXPECT_TRUE(r.untouched(600)) << where;
        EXPECT_FALSE(r.host->portOpen());
    }
}

// --baud: taken where the chip's timer makes it within 3 %, else refused
// before the switch naming the nearest rates it makes.
TEST(StcModernDownload, TransferRateAskedForOrRefused) {
    const struct {
        const char* selector;
        int chipType;
        uint32_t baud;
        const char* nearest; // "" = taken
    } rows[] = {
        {"stc89c52rc", 1, 19200, ""},           {"stc89c52rc", 1, 100000, "57600、115200"},
        {"stc12c5a60s2", 3, 57600, ""},         {"stc12c5a60s2,freq=6", 3, 115200, "38400"},
        {"iap15f2k61s2", kStc15, 921600, ""},   {"iap15f2k61s2", kStc15, 3000000, "921600"},
        {"stc15f104e", kStc15, 230400, ""},     {"stc15f104e", kStc15, 100000, "57600、115200"},
        {"stc8a8k64s4a12", kStc8, 500000, ""},  {"stc8a8k64s4a12", kStc8, 2500000, "460800"},
    };
    for (const auto& row : rows) {
        const std::string where = std::string(row.selector) + " at " + std::to_string(row.baud);
        ModernRun r = download(row.selector, options(row.chipType, image(700), 0, row.baud));
        if (!*row.nearest) {
            EXPECT_TRUE(r.report.success) << where << "\n" << r.log();
            EXPECT_EQ(r.report.baud, row.baud) << where;
            EXPECT_TRUE(r.flashHolds(image(700))) << where;
            continue;
        }
        EXPECT_FALSE(r.report.success) << where;
        const QString last = r.host->log.last();
        EXPECT_TRUE(last.startsWith(QStringLiteral("芯片无法以 %1 波特通信").arg(row.baud))) << last.toStdString();
        EXPECT_TRUE(last.endsWith(QStringLiteral("可用的相近波特率：") + row.nearest)) << where << ": " << last.toStdString();
        EXPECT_FALSE(r.host->log.contains(QStringLiteral("调整波特率..."))) << where;
        EXPECT_TRUE(r.untouched(700)) << where;
    }
}

// A chip whose RC was never trimmed is trimmed to the common frequency
// nearest the clock it runs on now (said in one line), or to the one asked
// for; the status frame's model, flash and EEPROM are logged for every family.
TEST(StcModernDownload, UntrimmedChipKeepsItsClockOrTakesTheFrequencyAndTheModelIsNamed) {
    for (const char* selector : {"stc15w4k56s4", "iap15f2k61s2,untrimmed", "stc8a8k64s4a12,untrimmed"}) {
        ModernRun r = download(selector, options(kAuto, image(300)));
        ASSERT_TRUE(r.report.success) << selector << "\n" << r.log();
        const QStringList said = r.host->log.filter(QStringLiteral("从未校准：按芯片现在运行的频率 "));
        ASSERT_EQ(said.size(), 1) << r.log();
        EXPECT_TRUE(said.first().contains(QStringLiteral("--freq MHZ")));
        const double mhz = said.first().section(QStringLiteral("频率 "), 1).section(u' ', 0, 0).toDouble();
        EXPECT_NEAR(r.modern()->userHz(), mhz * 1e6, mhz * 1e6 * 0.005) << selector;
        r = download(selector, options(kAuto, image(300), 12));
        EXPECT_TRUE(r.report.success) << selector << "\n" << r.log();
        EXPECT_NEAR(r.modern()->userHz(), 12e6, 12e6 * 0.005) << selector;
    }
    const struct {
        const char* selector;
        const char* line;
    } rows[] = {
        {"stc15w4k56s4,freq=11.0592", "型号 STC15W4K56S4，程序空间 56 KB，EEPROM 3 KB"},
        {"stc15f104e", "型号 STC15F104E，程序空间 4 KB，EEPROM 1 KB"},
        {"stc8a8k64s4a12", "型号 STC8A8K64S4A12，程序空间 63.5 KB，EEPROM 512 字节"},
        {"stc89c52rc", "型号 STC89C52RC/LE52RC，程序空间 8 KB，EEPROM 6 KB"},
        {"stc11f60", "型号 STC11F60XE，程序空间 60 KB，EEPROM 2 KB"},
    };
    for (const auto& row : rows) {
        ModernRun r = download(row.selector, options(kAuto, image(100)));
        EXPECT_TRUE(r.host->log.contains(row.line)) << r.log();
    }
}

// Chips that answer quickly (scale=0.1: answers ten times sooner): every
// STC simulator, old and new, with the family from the status frame and in
// both speed modes.  The newer families' switch answers without the 0.1 s
// floor: the STC15A's comes at the new rate 20 ms after the frame, and a
// host that still listened at the old rate would garble it.  (The older
// families' host closes its port around the switch, so their chips keep the
// floor real chips show.)
TEST(StcModernDownload, QuickChipsOnEverySimulator) {
    std::vector<std::string> names;
    for (const auto& m : sim::stcModels()) names.push_back(m.name + ",scale=0.1");
    for (const auto& m : sim::stcModernModels()) names.push_back(m.name + ",scale=0.1,switchfloor=0");
    ASSERT_EQ(names.size(), 10u);
    for (const std::string& name : names)
        for (const bool low : {false, true}) {
            const std::string where = name + (low ? " low speed" : "");
            const QByteArray img = image(1500);
            StcOptions o = options(kAuto, img, 11.0592);
            o.lowSpeed = low;
            ModernRun r = download(name, o);
            EXPECT_TRUE(r.report.success) << where << "\n" << r.log();
            EXPECT_TRUE(r.flashHolds(img)) << where;
            EXPECT_TRUE(r.chip->rejectedFrames().empty()) << where;
        }
}
