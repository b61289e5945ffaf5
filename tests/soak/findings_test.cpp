// Faults the soak found in the download protocols, each as the smallest run
// that shows it, against the simulators in virtual time.
#include <gtest/gtest.h>

#include "protocol/CMcuType.h"
#include "sim/Simulators.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {

struct StcRun {
    DownloadReport report;
    QByteArray flash;
    QStringList log;
};

StcRun stcDownload(const std::string& selector, int chipType, const QByteArray& image) {
    std::string error;
    auto chip = sim::makeChip(selector, &error);
    EXPECT_TRUE(chip) << error;
    if (!chip) return {};
    sim::VirtualHost host(*chip);
    StcOptions o;
    o.chipType = chipType;
    o.blocks = StcBlocks(image);
    o.imageBytes = static_cast<int>(image.size());
    CMcuType mcu(host, o);
    StcRun run;
    run.report = mcu.RunStcDownload();
    run.flash = QByteArray(reinterpret_cast<const char*>(chip->flash().data()), image.size());
    run.log = host.log;
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
