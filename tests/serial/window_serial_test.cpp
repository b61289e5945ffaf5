// The main window's serial operations: OpenPort/ClosePort, SendHexText,
// OnSerialData, the port list refresh and selection, the port watch and the
// driver check, on fake sysfs trees and simulated wires.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "platform/FakeSysfs.h"
#include "platform/SettingsStore.h"
#include "serial/ChannelTestKit.h"
#include "serial/SerialChannel.h"

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
    ~Window() { core->StopChannel(); }
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
    EXPECT_EQ(w.core->UsbDriverVersion(), "0.13");
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
    EXPECT_EQ(w.panel.messages[0].caption, MainWindowCore::AppTitle());
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

TEST(OpenPort, AFailedOpenIsToldOnceAndTheNextOpenDoesNothing) {
    Window w;
    w.twoPorts();
    w.listPorts();
    w.factory->refuse = DeviceStatus::fromErrno(EACCES, "cannot open /dev/ttyUSB0");
    EXPECT_FALSE(w.core->OpenSelectedPort(1200, 0, 0x68));
    ASSERT_EQ(w.panel.messages.size(), 1u);
    const ShownMessage& m = w.panel.messages[0];
    EXPECT_TRUE(m.text.startsWith("ttyUSB0口不能打开,把USB拔了重试！\n  \n     具体请参考《故障诊断》\n原因：cannot open /dev/ttyUSB0"))
        << m.text.toStdString();
    EXPECT_TRUE(m.text.contains("dialout")) << "EACCES says how to get the right";
    EXPECT_EQ(m.caption, "串口提示：—不能打开串口");
    EXPECT_EQ(m.icon, MsgIcon::Warning);

    EXPECT_TRUE(w.core->OpenPort(1200, 0, 0x68)) << "after a failed open: true without opening";
    EXPECT_EQ(w.factory->opened, 1);
    EXPECT_EQ(w.panel.messages.size(), 1u);

    w.factory->refuse = DeviceStatus::fromErrno(ENOENT, "cannot open /dev/ttyUSB0");
    EXPECT_FALSE(w.core->OpenSelectedPort(1200, 0, 0x68));
    ASSERT_EQ(w.panel.messages.size(), 2u);
    EXPECT_FALSE(w.panel.messages[1].text.contains("dialout"));
}

TEST(OpenPort, SendHexTextAndTheRepliesAreCollectedForTheProtocol) {
    Window w({"sim:echo"});
    w.listPorts();
    ASSERT_TRUE(w.core->OpenSelectedPort(115200, 2, 0x79));
    EXPECT_EQ(w.core->SerialLink().Settings().parity, 2);
    w.core->StartReader();

    // The event character last, so the whole echo is there when it wakes us.
    w.core->SendHexText("AB79");
    ASSERT_TRUE(pumpUntil([&] { return !w.core->Received().isEmpty(); }));
    EXPECT_EQ(w.core->Received(), QByteArray("\xAB\x79", 2));

    // An odd text sends floor(L/2) bytes; the empty text a block of none.
    w.core->SendHexText("46B9A");
    w.core->SendHexText("");
    EXPECT_EQ(w.core->SerialLink().IsStop.load(), 1) << "the empty write completes too";
    ASSERT_TRUE(pumpUntil([&] { return w.factory->log->byteCount() == 4; }));
    pumpFor(milliseconds(50));
    const auto bytes = w.factory->log->takeBytes();
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[2].value, 0x46);
    EXPECT_EQ(bytes[3].value, 0xB9);
    EXPECT_EQ(bytes[3].host.parity, 2);

    // Bytes without the event character wake nobody, yet a chunk read later
    // is added to what was received: nothing is lost, whatever the chip type.
    ASSERT_TRUE(pumpUntil([&] { return w.core->SerialLink().QueuedBytes() == 2; }));
    w.core->OnSerialData();
    EXPECT_EQ(w.core->Received(), QByteArray("\xAB\x79\x46\xB9", 4));
    EXPECT_EQ(w.core->SerialLink().QueuedBytes(), 0u);
    // With nothing held a read adds nothing; a send starts the reply afresh.
    w.core->OnSerialData();
    EXPECT_EQ(w.core->Received().size(), 4);
    w.core->Send(QByteArray());
    EXPECT_TRUE(w.core->Received().isEmpty());

    w.core->ClosePort();
    EXPECT_FALSE(w.core->SerialLink().IsOpen());
    EXPECT_TRUE(w.panel.messages.empty());
    // A close leaves opening allowed: the next open (a rate switch) opens.
    const int opened = w.factory->opened;
    ASSERT_TRUE(w.core->OpenPort(115200, 2, 0x79));
    EXPECT_EQ(w.factory->opened, opened + 1);
    EXPECT_TRUE(w.core->SerialLink().IsOpen());
}

TEST(OpenPort, AReplySplitAcrossReadsIsAssembledWithinATick) {
    Window w({"sim:echo"});
    w.listPorts();
    ASSERT_TRUE(w.core->OpenSelectedPort(115200, 0, 0x68));
    w.core->StartReader();
    w.core->SendHexText("00");
    w.factory->inject({0x01, 0x68}, w.core->SerialLink().Settings());
    ASSERT_TRUE(pumpUntil([&] { return w.core->Received().size() >= 2; }));
    // The rest comes without a new notification (the read cleared the write
    // mark): the wait takes it up at its next look.
    w.factory->inject({0x02, 0x03}, w.core->SerialLink().Settings());
    ASSERT_TRUE(w.core->StartTickTimer());
    const auto r = w.core->Wait(20, [](const QByteArray& got) { return got.endsWith("\x02\x03"); });
    w.core->KillTickTimer();
    EXPECT_EQ(r, protocol::WaitResult::Replied);
    EXPECT_LE(w.core->Ticks(), 2);
}

TEST(ClosePort, ADeviceThatCannotBeClosedIsToldTwice) {
    Window w({"sim:scripted"});
    w.factory->custom = [](const QString&) {
        auto dev = std::make_unique<ScriptedDevice>();
        dev->closeError = EIO;
        return dev;
    };
    w.listPorts();
    ASSERT_TRUE(w.core->OpenSelectedPort(9600, 0, 0x68));
    w.core->ClosePort();
    ASSERT_EQ(w.panel.messages.size(), 2u);
    EXPECT_EQ(w.panel.messages[0].text, "串口关闭失败");
    EXPECT_EQ(w.panel.messages[0].caption, MainWindowCore::AppTitle());
    EXPECT_EQ(w.panel.messages[1].text, "关闭串口失败");
    EXPECT_EQ(w.panel.messages[1].caption, "");
    EXPECT_FALSE(w.core->SerialLink().IsOpen());
    // Opening is allowed again after the failed close.
    w.factory->custom = nullptr;
    const int opened = w.factory->opened;
    EXPECT_TRUE(w.core->OpenPort(9600, 0, 0x68));
    EXPECT_EQ(w.factory->opened, opened + 1);
}
