// STM32 downloads through the window's core in real time, on simulated
// boards: the image reaches the flash, and a read-back finds a word the chip
// stored wrongly.
#include <gtest/gtest.h>

#include <QFile>

#include <random>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "common/IsolatedRoots.h"
#include "common/QtPrinters.h"
#include "platform/SimBoardSet.h"
#include "platform/SimWireDevice.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"

using namespace talvo;

TEST(CoreStm32Download, ProgramsAndVerifiesSimulatedBoards) {
    const QString done = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");
    const struct {
        const char* selector;
        int size;
        bool verify;
        QString lastLine; // the log's last line starts so
    } rows[] = {
        {"stm32f030", 200, false, done}, // one block
        {"stm32f103", 3000, true, done},
        {"stm32f103hd,bad-word=70", 3000, true, QStringLiteral("校验失败：地址 0x08000114 应为 0x")},
    };
    sim::registerSimulators();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.selector);
        test::IsolatedRoots roots;
        QByteArray image(r.size, '\0');
        std::mt19937 rng(static_cast<unsigned>(r.size));
        for (auto& c : image) c = static_cast<char>(rng() & 0xFF);
        QFile file(roots.dir.filePath(QStringLiteral("image.bin")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(image) == r.size);
        file.close();

        const QString port = QStringLiteral("sim:") + QString::fromLatin1(r.selector);
        MainWindowPanel panel;
        CoreServices services = roots.services();
        services.extraPorts = {port};
        MainWindowCore core(panel, services);
        core.Initialise();
        panel.setCurrentIndex(ctl::ChipType, 0);
        ASSERT_TRUE(core.SelectPort(port));
        core.SetFirmwareFile(file.fileName());
        core.SetVerifyStm32(r.verify);
        core.StartDownload();

        const auto& report = core.LastReport();
        ASSERT_FALSE(panel.logLines.isEmpty());
        EXPECT_TRUE(panel.logLines.last().startsWith(r.lastLine)) << panel.logLines.join('\n').toStdString();
        EXPECT_EQ(report.success, r.lastLine == done) << report.failure.toStdString();
        QByteArray flash;
        if (auto board = findSimBoard(port.mid(4)))
            board->withPeer([&](WirePeer& p) {
                const auto& f = static_cast<sim::SimChip&>(p).flash();
                flash = QByteArray(reinterpret_cast<const char*>(f.data()), r.size);
            });
        EXPECT_EQ(flash == image, report.success);
        EXPECT_EQ(panel.progress(ctl::Progress), 0);
        EXPECT_TRUE(panel.isEnabled(ctl::Download));
        core.StopPortWatch();
        releaseSimBoards();
    }
}
