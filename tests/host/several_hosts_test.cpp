// Several downloads at once in one process, each on a download host of its
// own in a thread of its own, against simulated boards of board sets of
// their own: nothing in the download path is shared between them (the suite
// runs again under ThreadSanitizer).
#include <gtest/gtest.h>

#include <QEventLoop>

#include <memory>
#include <thread>

#include "host/SerialDownloadHost.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "platform/SimBoardSet.h"
#include "platform/SimWireDevice.h"
#include "protocol/DownloadJob.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"

using namespace talvo;

namespace {

QByteArray pattern(int n, int seed) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>((i * 31 + seed * 17) ^ (i >> 3));
    return b;
}

struct Board {
    Board(QString p, int type, QByteArray img) : port(std::move(p)), chipType(type), image(std::move(img)) {}
    QString port;
    int chipType;
    QByteArray image;
    SimBoardSet boards;
    protocol::DownloadReport report;
    QStringList log;
    QByteArray flash;
};

// The whole download on the calling thread: the host is made, runs and ends
// there (on the thread's own event loop), and the board's flash is read
// afterwards.
void download(Board& b) {
    QEventLoop loop; // the thread's event dispatcher, which the host's waits serve
    HostReports reports;
    reports.log = [&b](const QString& line) { b.log << line; };
    auto devices = std::make_shared<SystemSerialDeviceFactory>(QString(), &b.boards);
    {
        SerialDownloadHost host(reports, HostServices{nullptr, devices, {}});
        protocol::DownloadJob job;
        job.chipType = b.chipType;
        job.image = b.image;
        b.report = host.Run(b.port, [&job](protocol::DownloadHost& h) { return protocol::RunDownload(h, job); });
    }
    if (auto board = b.boards.find(b.port.mid(4)))
        board->withPeer([&](WirePeer& p) {
            const auto& f = static_cast<sim::SimChip&>(p).flash();
            b.flash = QByteArray(reinterpret_cast<const char*>(f.data()),
                                 std::min<qsizetype>(b.image.size(), static_cast<qsizetype>(f.size())));
        });
}

} // namespace

// Three boards at once: two of one kind under one selector (their sets keep
// them apart) and one of the other checksum family.
TEST(SeveralHosts, DownloadsAtOnceInOneProcessEachReachTheirBoard) {
    sim::registerSimulators();
    const QString stc89 = QStringLiteral("sim:stc89c52rc,scale=0.2,switchfloor=0.5");
    Board boards[3] = {{stc89, 1, pattern(3000, 1)},
                       {stc89, 1, pattern(2000, 2)},
                       {QStringLiteral("sim:stc12c5a60s2,scale=0.1,switchfloor=0.5"), 3, pattern(4000, 3)}};
    std::vector<std::thread> threads;
    for (Board& b : boards) threads.emplace_back([&b] { download(b); });
    for (auto& t : threads) t.join();
    for (const Board& b : boards) {
        SCOPED_TRACE(b.port.toStdString());
        EXPECT_TRUE(b.report.success) << b.log.join('\n').toStdString();
        EXPECT_EQ(b.flash, b.image);
        EXPECT_EQ(b.log.count(QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!")), 1);
    }
    // The process's own set was never used.
    EXPECT_TRUE(processSimBoards().all().empty());
}
