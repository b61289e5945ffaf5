// USB serial ports from fake sysfs trees, and the /dev watch.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <QDir>

#include <atomic>

#include "common/Wait.h"

#include "platform/FakeSysfs.h"
#include "platform/PortWatch.h"
#include "platform/UsbSerialScan.h"

using namespace talvo;
using talvo::test::FakeSysfs;
using talvo::test::waitUntil;

namespace {
QStringList ttyNames(const UsbSerialScan& scan) {
    QStringList names;
    for (const auto& p : scan.ports) names << p.ttyName;
    return names;
}
} // namespace

TEST(UsbSerialScan, ListsUsbSerialAndAcmPortsInTtyOrderAndNothingElse) {
    FakeSysfs sys;
    sys.addUsbSerial("ttyUSB10", "1-4", "FTDI", "FT232R USB UART", "ftdi_sio", "ftdi_sio");
    sys.addUsbSerial("ttyUSB2", "1-2", "Prolific Technology Inc.", "USB-Serial Controller");
    sys.addAcm("ttyACM0", "1-3", "STMicroelectronics", "STM32 Virtual ComPort");
    sys.addPlatformPort("ttyS0");
    // A ttyUSB name whose device is no usb-serial port is not taken either.
    sys.addPlatformPort("ttyUSB7");

    const UsbSerialScan scan = scanUsbSerialPorts(sys.root());
    ASSERT_TRUE(scan.classReadable);
    EXPECT_EQ(ttyNames(scan), (QStringList{"ttyACM0", "ttyUSB2", "ttyUSB10"}));

    const UsbSerialPort& acm = scan.ports[0];
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.service, "cdc_acm") << "a built-in driver is its own service";
    EXPECT_EQ(acm.friendlyName(), "STMicroelectronics STM32 Virtual ComPort (ttyACM0)");

    const UsbSerialPort& pl = scan.ports[1];
    EXPECT_EQ(pl.deviceClass, "Ports");
    EXPECT_EQ(pl.enumerator, "USB");
    EXPECT_EQ(pl.driver, "pl2303");
    EXPECT_EQ(pl.service, "pl2303");
    EXPECT_EQ(pl.friendlyName(), "Prolific Technology Inc. USB-Serial Controller (ttyUSB2)");
    EXPECT_EQ(scan.ports[2].service, "ftdi_sio");
}

TEST(UsbSerialScan, FriendlyNameFallsBackToTheDriverAndToOneString) {
    FakeSysfs sys;
    sys.addUsbSerial("ttyUSB0", "1-1", "", "", "ch341-uart", "ch341");
    sys.addUsbSerial("ttyUSB1", "1-2", "", "CP2102 USB to UART Bridge Controller", "cp210x", "cp210x");
    const UsbSerialScan scan = scanUsbSerialPorts(sys.root());
    ASSERT_EQ(scan.ports.size(), 2u);
    EXPECT_EQ(scan.ports[0].friendlyName(), "ch341-uart (ttyUSB0)");
    EXPECT_EQ(scan.ports[0].service, "ch341");
    EXPECT_EQ(scan.ports[1].friendlyName(), "CP2102 USB to UART Bridge Controller (ttyUSB1)");
}

TEST(UsbSerialScan, NoPortsAndUnreadableTreesAreTold) {
    FakeSysfs empty;
    UsbSerialScan scan = scanUsbSerialPorts(empty.root());
    EXPECT_TRUE(scan.classReadable);
    EXPECT_TRUE(scan.ports.empty());

    QTemporaryDir nothing;
    scan = scanUsbSerialPorts(nothing.path());
    EXPECT_FALSE(scan.classReadable);
    EXPECT_TRUE(scan.ports.empty());
}

// Each step watches a folder of its own.  Removing the folder ends the watch
// after every earlier event was taken (a pending change is told first), so
// once the watch is no longer running its count is final.
TEST(PortWatch, TellsOfTtysArrivingAndLeavingAndIgnoresOtherFiles) {
    struct Step {
        QTemporaryDir dev;
        std::atomic<int> changes{0};
        PortWatch watch{dev.path(), [this] { ++changes; }, std::chrono::milliseconds(50)};
        Step() {
            QString error;
            EXPECT_TRUE(watch.start(&error)) << error.toStdString();
            EXPECT_TRUE(watch.running());
        }
        void touch(const char* name) { EXPECT_TRUE(QFile(dev.filePath(name)).open(QIODevice::WriteOnly)); }
        int finalCount() {
            EXPECT_TRUE(dev.remove());
            EXPECT_TRUE(waitUntil([this] { return !watch.running(); }));
            return changes.load();
        }
    };
    {
        Step arrive;
        arrive.touch("ttyUSB3");
        EXPECT_TRUE(waitUntil([&] { return arrive.changes.load() >= 1; }));
    }
    {
        // Two ports of one converter, then one going away.
        Step burst;
        burst.touch("ttyUSB4");
        burst.touch("ttyUSB5");
        EXPECT_TRUE(waitUntil([&] { return burst.changes.load() >= 1; }));
        const int seen = burst.changes.load();
        QFile::remove(burst.dev.filePath("ttyUSB4"));
        EXPECT_TRUE(waitUntil([&] { return burst.changes.load() > seen; }));
    }
    {
        // Other names are not a port change.
        Step other;
        other.touch("video0");
        EXPECT_EQ(other.finalCount(), 0);
    }
    {
        // A stopped watch tells nothing (its thread has ended when stop returns).
        Step stopped;
        stopped.watch.stop();
        EXPECT_FALSE(stopped.watch.running());
        stopped.touch("ttyUSB9");
        EXPECT_EQ(stopped.changes.load(), 0);
    }
}

// The folder goes away: the watch ends and no longer says it runs; a start
// then fails until the folder is back, and then watches again.
TEST(PortWatch, AWatchThatEndedOnAnErrorSaysSoAndCanStartAgain) {
    QTemporaryDir parent;
    const QString dev = parent.filePath("dev");
    ASSERT_TRUE(QDir().mkpath(dev));
    std::atomic<int> changes{0};
    PortWatch watch(dev, [&] { ++changes; }, std::chrono::milliseconds(50));
    ASSERT_TRUE(watch.start());
    ASSERT_TRUE(QFile(dev + "/ttyUSB0").open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir(dev).removeRecursively());
    EXPECT_TRUE(waitUntil([&] { return !watch.running(); }));
    // The port that came and went with the folder is told (once, or twice
    // when the removal came after the first change had settled).
    const int told = changes.load();
    EXPECT_GE(told, 1);

    QString error;
    EXPECT_FALSE(watch.start(&error));
    EXPECT_TRUE(error.contains(dev)) << error.toStdString();
    EXPECT_FALSE(watch.running());

    ASSERT_TRUE(QDir().mkpath(dev));
    ASSERT_TRUE(watch.start(&error)) << error.toStdString();
    EXPECT_TRUE(watch.running());
    ASSERT_TRUE(QFile(dev + "/ttyACM0").open(QIODevice::WriteOnly));
    EXPECT_TRUE(waitUntil([&] { return changes.load() > told; }));
}

TEST(PortWatch, AFolderThatCannotBeWatchedIsAnError) {
    PortWatch watch("/talvo/no/such/dev", [] {});
    QString error;
    EXPECT_FALSE(watch.start(&error));
    EXPECT_TRUE(error.contains("/talvo/no/such/dev"));
    EXPECT_FALSE(watch.running());
}
