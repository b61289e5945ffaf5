// The main window's port list: the refresh and the selection, the port watch
// and the driver check, on fake sysfs trees.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "app/WindowTexts.h"
#include "platform/FakeSysfs.h"
#include "platform/QSettingsStore.h"
#include "serial/ChannelTestKit.h"
#include "serial/DriverCheck.h"

using namespace talvo;
using namespace talvo::test;
using namespace std::chrono;

namespace {

const QString kProlific = QStringLiteral("ttyUSB0 (Prolific Technology Inc. USB-Serial Controller )");
const QString kFtdi = QStringLiteral("ttyUSB1 (FTDI FT232R USB UART )");

struct Window {
    FakeSysfs sys;
    QTemporaryDir dev;
    QSettingsStore settings{dev.filePath("TALVO.conf")};
    MainWindowPanel panel;
    std::shared_ptr<TestFactory> factory = std::make_shared<TestFactory>();
    std::unique_ptr<MainWindowCore> core;

    explicit Window(QStringList extraPorts = {}) {
        CoreServices services;
        services.settings = &settings;
        services.sysfsRoot = sys.root();
        services.devRoot = dev.path();
        services.extraPorts = std::move(extraPorts);
        services.devices = factory;
        core = std::make_unique<MainWindowCore>(panel, services);
    }
    void twoPorts() {
        sys.addUsbSerial("ttyUSB0", "1-1", "Prolific Technology Inc.", "USB-Serial Controller");
        sys.addUsbSerial("ttyUSB1", "1-2", "FTDI", "FT232R USB UART", "ftdi_sio", "ftdi_sio");
    }
    void select(int index) {
        panel.setCurrentIndex(ctl::PortList, index);
        core->OnPortSelected();
    }
    // Lists the ports and selects the first, as the window does at start.
    void listPorts() {
        core->RefreshPortList();
        panel.logLines.clear();
    }
};

} // namespace

TEST(PortListRefresh, TwoPortsListLogAndSelectTheFirst) {
    Window w;
    w.twoPorts();
    w.sys.setModuleVersion("pl2303", "0.13");
    w.core->RefreshPortList();
    EXPECT_EQ(w.panel.items(ctl::PortList), (QStringList{kProlific, kFtdi}));
    EXPECT_EQ(w.panel.currentIndex(ctl::PortList), 0);
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB0");
    EXPECT_EQ(w.panel.logLines, (QStringList{"当前设备串口号： " + kProlific, "当前设备串口号： " + kFtdi}));
    EXPECT_TRUE(w.panel.messages.empty());
    EXPECT_EQ(w.core->UsbDriverName(), "pl2303");
    EXPECT_EQ(ReadDriverVersion(w.sys.root(), w.core->UsbDriverName()), "0.13");
    EXPECT_TRUE(w.core->CheckDriverCompatibility()) << "no driver rule on this system";

    w.select(1);
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB1");
    // A refresh returns the selection to entry 0.
    w.core->RefreshPortList();
    EXPECT_EQ(w.panel.currentIndex(ctl::PortList), 0);
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB0");
}

TEST(PortListRefresh, NoPortsShowTheNoPortItemAndKeepTheCurrentPort) {
    Window w;
    w.sys.addUsbSerial("ttyUSB3", "1-3", "Prolific Technology Inc.", "USB-Serial Controller");
    w.listPorts();
    ASSERT_EQ(w.core->SelectedPort(), "ttyUSB3");
    ASSERT_EQ(w.core->UsbDriverName(), "pl2303");
    w.sys.remove("ttyUSB3"); // unplugged
    w.core->RefreshPortList();
    EXPECT_EQ(w.panel.items(ctl::PortList), QStringList{"无可以的串口号!"});
    EXPECT_EQ(w.panel.currentIndex(ctl::PortList), 0);
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB3");
    EXPECT_EQ(w.core->UsbDriverName(), "pl2303") << "a refresh without a Prolific port keeps the name";
    EXPECT_TRUE(w.panel.logLines.isEmpty());
    EXPECT_TRUE(w.panel.messages.empty());
    w.select(0);
    EXPECT_EQ(w.core->SelectedPort(), "") << "the no-port item names no device";
}

TEST(PortListRefresh, AnUnreadableTtyListIsToldAndTheRefreshGoesOn) {
    Window w({"/dev/pts/9"});
    QDir(w.sys.root() + "/class/tty").removeRecursively();
    w.core->RefreshPortList();
    ASSERT_EQ(w.panel.messages.size(), 1u);
    EXPECT_EQ(w.panel.messages[0].text, "没找到可用的串口，请将开发试验仪连接到您的电脑上!");
    EXPECT_EQ(w.panel.messages[0].caption, AppTitle());
    EXPECT_EQ(w.panel.items(ctl::PortList), QStringList{"/dev/pts/9"}) << "the --port entries still come";
    EXPECT_EQ(w.core->SelectedPort(), "/dev/pts/9");
}

TEST(PortListRefresh, ExtraPortsAreAppendedAndSelectable) {
    Window w({"/dev/pts/9", "sim:STC89"});
    w.twoPorts();
    w.core->RefreshPortList();
    EXPECT_EQ(w.panel.items(ctl::PortList), (QStringList{kProlific, kFtdi, "/dev/pts/9", "sim:STC89"}));
    EXPECT_EQ(w.panel.logLines.size(), 2);
    w.select(3);
    EXPECT_EQ(w.core->SelectedPort(), "sim:STC89");

    // A path is opened as given, even one that looks like an entry.
    Window odd({"/tmp/board (left)"});
    odd.core->RefreshPortList();
    odd.select(0);
    EXPECT_EQ(odd.core->SelectedPort(), "/tmp/board (left)");
}

TEST(PortListRefresh, FriendlyNameWithExtraParenthesesAndADisappearingPort) {
    Window w;
    w.sys.addUsbSerial("ttyUSB5", "1-5", "ABC", "Port (Interface 0)", "cp210x", "cp210x");
    w.twoPorts();
    w.core->RefreshPortList();
    EXPECT_EQ(w.panel.items(ctl::PortList), (QStringList{kProlific, kFtdi, "Interface 0 (ABC Port )"}));
    w.select(2);
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB5");

    w.sys.remove("ttyUSB0");
    w.core->RefreshPortList();
    EXPECT_EQ(w.panel.items(ctl::PortList), (QStringList{kFtdi, "Interface 0 (ABC Port )"}));
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB1");
}

TEST(PortWatchInWindow, PluggingAConverterInRefreshesTheListAndSelectsEntryZero) {
    Window w;
    w.sys.addUsbSerial("ttyUSB1", "1-2", "FTDI", "FT232R USB UART", "ftdi_sio", "ftdi_sio");
    w.core->StartPortWatch();
    w.core->RefreshPortList();
    w.select(0);
    ASSERT_EQ(w.panel.items(ctl::PortList).size(), 1);

    // The converter appears in sysfs and its node in the device folder.
    w.sys.addUsbSerial("ttyUSB0", "1-1", "Prolific Technology Inc.", "USB-Serial Controller");
    QFile(w.dev.filePath("ttyUSB0")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(pumpUntil([&] { return w.panel.items(ctl::PortList).size() == 2; }));
    EXPECT_EQ(w.panel.items(ctl::PortList).first(), kProlific);
    EXPECT_EQ(w.panel.currentIndex(ctl::PortList), 0);
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB0");
    w.core->StopPortWatch();
    w.core->StopPortWatch();
}

TEST(PortWatchInWindow, AConverterPluggedInAfterAStartWithoutAnyIsNoticed) {
    Window w;
    w.core->StartPortWatch();
    w.core->RefreshPortList();
    ASSERT_EQ(w.panel.items(ctl::PortList), QStringList{"无可以的串口号!"});

    w.sys.addUsbSerial("ttyUSB0", "1-1", "Prolific Technology Inc.", "USB-Serial Controller");
    QFile(w.dev.filePath("ttyUSB0")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(pumpUntil([&] { return w.panel.items(ctl::PortList) == QStringList{kProlific}; }));
    EXPECT_EQ(w.core->SelectedPort(), "ttyUSB0");
    w.core->StopPortWatch();
}
