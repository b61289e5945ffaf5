// `talvo ports`: the entries of the window's port list on standard output,
// the log lines on standard error, and `--watch` listing again at a change.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>

#include "platform/FakeSysfs.h"

using talvo::test::FakeSysfs;

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun runPorts(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TALVO_CLI), QStringList{QStringLiteral("ports")} + args);
    CliRun r;
    if (!p.waitForFinished(60000)) return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

const QString kProlific = QStringLiteral("ttyUSB0 (Prolific Technology Inc. USB-Serial Controller )");
const QString kFtdi = QStringLiteral("ttyUSB1 (FTDI FT232R USB UART )");

} // namespace

TEST(PortsCommand, ListsTheEntriesAndLogLinesAsTheWindowDoes) {
    FakeSysfs sys;
    sys.addUsbSerial("ttyUSB0", "1-1", "Prolific Technology Inc.", "USB-Serial Controller");
    sys.addUsbSerial("ttyUSB1", "1-2", "FTDI", "FT232R USB UART", "ftdi_sio", "ftdi_sio");
    sys.addPlatformPort("ttyS0");
    CliRun r = runPorts({"--sysfs", sys.root(), "--port", "/dev/pts/7"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, kProlific + "\n" + kFtdi + "\n/dev/pts/7\n");
    EXPECT_EQ(r.err, "当前设备串口号： " + kProlific + "\n当前设备串口号： " + kFtdi + "\n");

    FakeSysfs empty;
    r = runPorts({"--sysfs", empty.root()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "无可以的串口号!\n");
    EXPECT_EQ(r.err, "");
}

TEST(PortsCommand, AnUnreadableTtyListAndWrongArgumentsAreTold) {
    QTemporaryDir nothing;
    CliRun r = runPorts({"--sysfs", nothing.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "无可以的串口号!\n");
    EXPECT_TRUE(r.err.contains("没找到可用的串口，请将开发试验仪连接到您的电脑上!")) << r.err.toStdString();

    r = runPorts({"--sysfs"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("Missing value after '--sysfs'; see 'talvo ports --help'")) << r.err.toStdString();
    EXPECT_EQ(runPorts({"--bogus"}).exitCode, 2);

    // A device folder that cannot be watched: the list, then why, exit 1.
    FakeSysfs empty;
    r = runPorts({"--watch", "--sysfs", empty.root(), "--dev", "/talvo/no/such/dev"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "无可以的串口号!\n");
    EXPECT_TRUE(r.err.contains("/talvo/no/such/dev")) << r.err.toStdString();
}

TEST(PortsCommand, WatchListsAgainWhenAConverterIsPluggedIn) {
    FakeSysfs sys;
    QTemporaryDir dev;
    sys.addUsbSerial("ttyUSB1", "1-2", "FTDI", "FT232R USB UART", "ftdi_sio", "ftdi_sio");
    QProcess p;
    p.start(QStringLiteral(TALVO_CLI), {"ports", "--watch", "--sysfs", sys.root(), "--dev", dev.path()});
    ASSERT_TRUE(p.waitForStarted(60000));
    QByteArray out;
    auto waitOut = [&](const QByteArray& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!out.contains(text) && std::chrono::steady_clock::now() < deadline &&
               p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        return out.contains(text);
    };
    // The first list is printed once the watch runs: a change from now on is seen.
    ASSERT_TRUE(waitOut(kFtdi.toUtf8() + "\n")) << out.toStdString();

    sys.addUsbSerial("ttyUSB0", "1-1", "Prolific Technology Inc.", "USB-Serial Controller");
    QFile(dev.filePath("ttyUSB0")).open(QIODevice::WriteOnly);
    const QByteArray again = "\n" + kProlific.toUtf8() + "\n" + kFtdi.toUtf8() + "\n";
    EXPECT_TRUE(waitOut(again)) << out.toStdString();
    EXPECT_EQ(p.state(), QProcess::Running) << "it watches until interrupted";

    p.kill();
    p.waitForFinished(60000);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_FALSE(err.contains("ThreadSanitizer")) << err.toStdString();
}
