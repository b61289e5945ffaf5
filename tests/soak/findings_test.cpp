// Faults the soak found in the download protocols, each as the smallest run
// that shows it, against the simulators in virtual time.
#include <gtest/gtest.h>

#include "common/QtPrinters.h"
#include "protocol/CMcuType.h"
#include "protocol/Stm32Session.h"
#include "sim/Simulators.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {

struct StcRun {
    DownloadReport report;
    QByteArray flash;
    QStringList log;
    std::vector<uint8_t> commands; // of the frames the chip received, in order
};

StcRun stcDownload(const std::string& selector, int chipType, const QByteArray& image) {
    std::string error;
    auto chip = sim::makeChip(selector, &error);
    EXPECT_TRUE(chip) << error;
    if (!chip) return {};
    sim::VirtualHost host(*chip);
    StcOptions o;
    o.chipType = chipType;
    o.image = image;
    CMcuType mcu(host, o);
    StcRun run;
    run.report = mcu.RunStcDownload();
    run.flash = QByteArray(reinterpret_cast<const char*>(chip->flash().data()), image.size());
    run.log = host.log;
    for (const auto& f : chip->frames())
        if (f.bytes.size() > 5) run.commands.push_back(f.bytes[5]);
    return run;
}

// Where the flash first differs from the image ("" when it does not).
std::string firstDifference(const QByteArray& flash, const QByteArray& image) {
    for (qsizetype i = 0; i < image.size(); ++i)
        if (i >= flash.size() || flash[i] != image[i])
            return QStringLiteral("at 0x%1: image %2, flash %3")
                .arg(i, 4, 16, QLatin1Char('0'))
                .arg(static_cast<uint8_t>(image[i]), 2, 16, QLatin1Char('0'))
                .arg(i < flash.size() ? QString::number(static_cast<uint8_t>(flash[i]), 16) : QStringLiteral("none"))
                .toStdString();
    return {};
}

} // namespace

// A block whose answer comes after its resend is answered twice.  When the
// next block has the same data sum (two equal blocks, runs of 00 or FF) and
// its own frame is lost, the second answer of the earlier block must not be
// taken for its acknowledgement: the block would never be written, and the
// download would end in success over a wrong flash.
TEST(SoakFindings, LateSecondAnswerOfABlockIsNotTheNextBlocksAcknowledge) {
    QByteArray image;
    for (int i = 0; i < 128; ++i) image.append(static_cast<char>(i * 7 + 3));
    image += image; // two blocks with the same data sum
    struct Case {
        const char* selector;
        int chipType;
    };
    // Every block is answered 1.0 s late, after the resend at 0.9 s; the
    // chip ignores the third block frame it receives (the next block's).
    const Case cases[] = {{"stc89c52rc,delay=1.0,nack-block=3", 1},
                          {"stc90c516,delay=1.0,nack-block=3", 4},
                          {"stc12c5a60s2,delay=1.0,nack-block=3", 3},
                          {"stc11f60,delay=1.0,nack-block=3", 2}};
    for (const Case& c : cases) {
        const StcRun run = stcDownload(c.selector, c.chipType, image);
        EXPECT_TRUE(run.report.success) << c.selector << ": " << run.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(firstDifference(run.flash, image), "") << c.selector;
    }
}

// The last block, answered late, is sent again and answered twice; the
// second answer arrives while the host waits for the answer to its closing
// frame.  A write acknowledge is no answer to 8D or 69: when the chip does
// not answer the closing frame, the download must fail there ("写数据超时"),
// not go on as if the chip had taken it.
TEST(SoakFindings, LateWriteAnswerIsNoAnswerToTheClosingFrame) {
    const QByteArray image(1, '\x5A');
    struct Case {
        const char* selector; // answers 1.0 s late; silent from the closing frame on
        int chipType;
        uint8_t closing; // the awaited closing frame
    };
    const Case cases[] = {{"stc89c52rc,delay=1.0,silent-after=12", 1, 0x8D},
                          {"stc12c5a60s2,delay=1.0,silent-after=8", 3, 0x69},
                          {"stc11f60,delay=1.0,silent-after=8", 2, 0x69}};
    for (const Case& c : cases) {
        const StcRun run = stcDownload(c.selector, c.chipType, image);
        EXPECT_FALSE(run.report.success) << c.selector;
        EXPECT_EQ(run.log.isEmpty() ? QString() : run.log.last(), QStringLiteral("写数据超时")) << c.selector;
        // Nothing went out after the unanswered closing frame.
        ASSERT_FALSE(run.commands.empty()) << c.selector;
        EXPECT_EQ(run.commands.back(), c.closing) << c.selector;
    }
}

// An STM32 image that ends inside a page: the rest of the page is read
// before the erase and written back.  A Read Memory reply has no checksum,
// so a byte garbled on its way in (here FF read as FD, at 0x08000183) would
// be written back garbled; the bytes are read until two reads agree.
TEST(SoakFindings, AKeptByteGarbledOnTheLineIsNotWrittenBack) {
    std::string error;
    auto chip = sim::makeChip("stm32f030,corrupt=0.000276,seed=34", &error);
    ASSERT_TRUE(chip) << error;
    sim::VirtualHost host(*chip);
    Stm32Options o;
    o.image = QByteArray(68, '\x5A');
    const DownloadReport report = DownloadStm32(host, o);
    ASSERT_TRUE(report.success) << host.log.join(QLatin1Char('\n')).toStdString();
    const auto& flash = chip->flash();
    EXPECT_TRUE(std::all_of(flash.begin() + 68, flash.end(), [](uint8_t b) { return b == 0xFF; }));
}
