// Port entries, the port listing and the driver decision table.
#include <gtest/gtest.h>

#include "platform/FakeSysfs.h"
#include "serial/DriverCheck.h"
#include "serial/PortList.h"

using namespace talvo;
using talvo::test::FakeSysfs;

TEST(PortEntry, ComposedFromTheFriendlyName) {
    EXPECT_EQ(composePortEntry("ABC Serial Port (COM3)"), "COM3 (ABC Serial Port )");
    EXPECT_EQ(composePortEntry("Prolific Technology Inc. USB-Serial Controller (ttyUSB0)"),
              "ttyUSB0 (Prolific Technology Inc. USB-Serial Controller )");
    EXPECT_EQ(composePortEntry("ABC Port (Interface 0) (COM5)"), "Interface 0 (ABC Port )");
    EXPECT_EQ(composePortEntry("No parentheses"), " ()");
    EXPECT_EQ(composePortEntry(""), " ()");
    EXPECT_EQ(composePortEntry("odd ) order (x"), " (odd ) order )") << "a ')' before the '(' gives no port name";
}

TEST(PortEntry, DeviceAndDescriptionParts) {
    EXPECT_EQ(portEntryDevice("ttyUSB0 (Prolific Technology Inc. USB-Serial Controller )"), "ttyUSB0");
    EXPECT_EQ(portEntryDevice("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(portEntryDevice("sim:STC89"), "sim:STC89");
    EXPECT_EQ(portEntryDescription("ttyUSB0 (Prolific Technology Inc. USB-Serial Controller )"),
              "Prolific Technology Inc. USB-Serial Controller ");
    EXPECT_TRUE(isProlificEntry("ttyUSB12 (Prolific Technology Inc. USB-Serial Controller )"))
        << "whatever the length of the device name";
    EXPECT_FALSE(isProlificEntry("ttyUSB0 (FTDI FT232R USB UART )"));
    EXPECT_FALSE(isProlificEntry("Prolific"));
}

TEST(PortListing, MoreThanSixteenPortsAreAllListed) {
    FakeSysfs sys;
    for (int i = 0; i < 20; ++i)
        sys.addUsbSerial(QStringLiteral("ttyUSB%1").arg(i), QStringLiteral("1-%1").arg(i + 1), "M", "P");
    const PortListing l = listSerialPorts(sys.root(), {});
    ASSERT_EQ(l.entries.size(), 20);
    EXPECT_EQ(l.devices.first(), "ttyUSB0");
    EXPECT_EQ(l.devices.last(), "ttyUSB19");
}

// USB device strings are whatever the device says.  Control characters
// would split an entry over lines, and a parenthesis without its partner
// would move where the entry's tty name is read from; both are cleaned
// before the entry is made.
TEST(PortListing, HostileUsbStringsGiveOneLineEntriesWithTheirTtyName) {
    FakeSysfs sys;
    const struct {
        const char* manufacturer;
        const char* product;
        const char* description;
    } cases[] = {
        {"Evil\nCorp", "UART\r\n2", "Evil Corp UART 2 "},
        {"Odd) Maker", "Bridge", "Odd Maker Bridge "},
        {"(Vendor", "Serial (x", "Vendor Serial x "},
        {"Maker", "Bridge) (", "Maker Bridge "},
        {"Tab\tand\x01" "bell\x7f", "  spaced   out  ", "Tab and bell spaced out "},
    };
    int n = 0;
    for (const auto& c : cases) {
        sys.addUsbSerial(QStringLiteral("ttyUSB%1").arg(n), QStringLiteral("1-%1").arg(n + 1),
                         QString::fromUtf8(c.manufacturer), QString::fromUtf8(c.product));
        ++n;
    }
    const PortListing l = listSerialPorts(sys.root(), {});
    ASSERT_EQ(l.entries.size(), n);
    for (int i = 0; i < n; ++i) {
        const QString entry = l.entries[i];
        EXPECT_EQ(entry, QStringLiteral("ttyUSB%1 (%2)").arg(i).arg(QString::fromUtf8(cases[i].description)));
        EXPECT_EQ(portEntryDevice(entry), l.devices[i]);
        EXPECT_FALSE(l.logLines[i].contains(QLatin1Char('\n')) || l.logLines[i].contains(QLatin1Char('\r')));
    }
}

TEST(DriverCheck, DecisionTableRowByRow) {
    EXPECT_TRUE(driverSuitsSystem(WindowsGroup::XpGroup, "2.0.0.18"));
    EXPECT_FALSE(driverSuitsSystem(WindowsGroup::XpGroup, "3.3.11.152"));
    EXPECT_FALSE(driverSuitsSystem(WindowsGroup::XpGroup, "2.00.00.18"));
    EXPECT_FALSE(driverSuitsSystem(WindowsGroup::XpGroup, ""));
    EXPECT_TRUE(driverSuitsSystem(WindowsGroup::VistaGroup, "3.3.11.152"));
    EXPECT_FALSE(driverSuitsSystem(WindowsGroup::VistaGroup, "2.0.0.18"));
    EXPECT_FALSE(driverSuitsSystem(WindowsGroup::VistaGroup, ""));
    EXPECT_TRUE(driverSuitsSystem(WindowsGroup::Other, "2.0.0.18"));
    EXPECT_TRUE(driverSuitsSystem(WindowsGroup::Other, "1.0"));
    EXPECT_TRUE(driverSuitsSystem(WindowsGroup::Other, ""));
}

TEST(DriverCheck, WindowsGroupsAndLabels) {
    auto nt = [](int major, int minor) {
        OsVersionFacts f;
        f.windowsNt = true;
        f.major = major;
        f.minor = minor;
        return f;
    };
    EXPECT_EQ(windowsGroupOf(nt(5, 0)), WindowsGroup::XpGroup);
    EXPECT_EQ(windowsLabel(nt(5, 0)), "Windows   2000");
    EXPECT_EQ(windowsLabel(nt(5, 1)), "Windows   XP");
    EXPECT_EQ(windowsGroupOf(nt(5, 2)), WindowsGroup::XpGroup);
    EXPECT_EQ(windowsLabel(nt(5, 3)), "Windows   2003   Server");
    EXPECT_EQ(windowsGroupOf(nt(6, 0)), WindowsGroup::VistaGroup);
    EXPECT_EQ(windowsLabel(nt(6, 1)), "WIN7");
    EXPECT_EQ(windowsGroupOf(nt(6, 2)), WindowsGroup::Other);
    EXPECT_EQ(windowsGroupOf(nt(10, 0)), WindowsGroup::Other);
    OsVersionFacts nine;
    nine.major = 4;
    nine.minor = 10;
    EXPECT_EQ(windowsGroupOf(nine), WindowsGroup::Other) << "non-NT systems";
    EXPECT_EQ(windowsGroupOf(currentOsVersion()), WindowsGroup::Other) << "this machine";
    EXPECT_FALSE(currentOsVersion().release.isEmpty());
}

TEST(DriverCheck, ModuleVersionFromSysfs) {
    FakeSysfs sys;
    sys.setModuleVersion("pl2303", "0.13");
    EXPECT_EQ(ReadDriverVersion(sys.root(), "pl2303"), "0.13");
    EXPECT_EQ(ReadDriverVersion(sys.root(), "ftdi_sio"), "");
    EXPECT_EQ(ReadDriverVersion(sys.root(), ""), "");
    EXPECT_EQ(ReadDriverVersion(sys.root(), "../pl2303"), "") << "a name, not a path";
}
