// STM32 downloads through the window's core in real time, on simulated
// boards: the image reaches the flash, and a read-back finds a word the chip
// stored wrongly.
#include <gtest/gtest.h>

#include <random>

#include "app/CoreRig.h"

using namespace talvo;
using namespace talvo::coretest;

namespace {

QString writeImage(const QTemporaryDir& dir, int size) {
    QByteArray image(size, '\0');
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& c : image) c = static_cast<char>(rng() & 0xFF);
    const QString path = dir.filePath(QStringLiteral("image%1.bin").arg(size));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(image);
    return path;
}

} // namespace

TEST(CoreStm32Download, ProgramsAndVerifiesTheSimulatedBoards) {
    const QString done = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");
    const struct {
        const char* selector;
        int size;
        bool verify;
        QString lastLine; // "" : success
    } rows[] = {
        {"stm32f030", 200, false, done},
        {"stm32f103", 3000, true, done},
        {"stm32f103hd,bad-word=70", 3000, true, QStringLiteral("校验失败：地址 0x08000114 应为 0x")},
    };
    QTemporaryDir images;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.selector);
        const QString selector = QString::fromLatin1(r.selector);
        CoreRig rig("sim:" + selector, 0, writeImage(images, r.size));
        rig.core->VerifyStm32Download = r.verify;
        rig.core->StartDownload();
        const auto& report = rig.core->LastReport();
        ASSERT_FALSE(rig.panel.logLines.isEmpty());
        EXPECT_TRUE(rig.panel.logLines.last().startsWith(r.lastLine)) << rig.panel.logLines.join('\n').toStdString();
        EXPECT_EQ(report.success, r.lastLine == done) << report.failure.toStdString();
        EXPECT_EQ(rig.core->ImageSize, r.size);
        if (report.success) {
            EXPECT_EQ(flashOf(selector, r.size), rig.core->ImageBytes.left(r.size));
        }
        EXPECT_EQ(rig.panel.progress(ctl::Progress), 0);
        EXPECT_TRUE(rig.panel.isEnabled(ctl::Download));
    }
}
