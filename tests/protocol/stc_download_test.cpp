// End-to-end STC downloads against the chip simulators in virtual time.
#include <gtest/gtest.h>

#include "protocol/CMcuType.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {

QByteArray pattern(int n, int seed = 1) {
    QByteArray b(n, '\0');
    uint32_t x = 2463534242u * static_cast<uint32_t>(seed);
    for (int i = 0; i < n; ++i) {
        x ^= x << 13; x ^= x >> 17; x ^= x << 5;
        b[i] = static_cast<char>(x & 0xFF);
    }
    return b;
}

std::unique_ptr<sim::SimChip> chip(const std::string& selector) {
    std::string error;
    auto c = sim::makeChip(selector, &error);
    EXPECT_TRUE(c) << error;
    return c;
}

} // namespace

TEST(StcDownloadSmoke, Stc89) {
    auto c = chip("stc89c52rc");
    sim::VirtualHost host(*c);
    StcOptions o;
    o.chipType = 1;
    const QByteArray image = pattern(3000);
    o.blocks = StcBlocks(image);
    o.imageBytes = image.size();
    CMcuType mcu(host, o);
    const DownloadReport r = mcu.RunStcDownload();
    for (const QString& l : host.log) std::printf("%s\n", l.left(100).toUtf8().constData());
    std::printf("elapsed %.3f s\n", host.elapsedSeconds());
    EXPECT_TRUE(r.success);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(c->flash().data()), image.size()), image);
}
