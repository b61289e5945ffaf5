// USB serial ports from fake sysfs trees, and the /dev watch.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include "platform/FakeSysfs.h"
#include "platform/PortWatch.h"
#include "platform/UsbSerialScan.h"

using namespace talvo;
using talvo::test::FakeSysfs;

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

TEST(PortWatch, TellsOfTtysArrivingAndLeavingAndIgnoresOtherFiles) {
    QTemporaryDir dev;
    std::atomic<int> changes{0};
    PortWatch watch(dev.path(), [&] { ++changes; }, std::chrono::milliseconds(50));
    QString error;
    ASSERT_TRUE(watch.start(&error)) << error.toStdString();
    EXPECT_TRUE(watch.running());

    auto waitFor = [&](int n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (changes.load() < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return changes.load() >= n;
    };

    {
        QFile f(dev.filePath("ttyUSB3"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(waitFor(1));
    // Two ports of one converter, then one going away.
    QFile(dev.filePath("ttyUSB4")).open(QIODevice::WriteOnly);
    QFile(dev.filePath("ttyUSB5")).open(QIODevice::WriteOnly);
    EXPECT_TRUE(waitFor(2));
    QFile::remove(dev.filePath("ttyUSB3"));
    const int seen = changes.load();
    EXPECT_TRUE(waitFor(seen + 1));
    // Other names are not a port change.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int settled = changes.load();
    QFile(dev.filePath("video0")).open(QIODevice::WriteOnly);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(changes.load(), settled);

    watch.stop();
    EXPECT_FALSE(watch.running());
    const int before = changes.load();
    QFile(dev.filePath("ttyUSB9")).open(QIODevice::WriteOnly);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(changes.load(), before) << "a stopped watch tells nothing";
}

TEST(PortWatch, AFolderThatCannotBeWatchedIsAnError) {
    PortWatch watch("/talvo/no/such/dev", [] {});
    QString error;
    EXPECT_FALSE(watch.start(&error));
    EXPECT_TRUE(error.contains("/talvo/no/such/dev"));
    EXPECT_FALSE(watch.running());
}
