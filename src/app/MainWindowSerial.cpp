// Serial link, port list and driver check of the main window.
#include "app/MainWindowCore.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLoggingCategory>

#include <cerrno>

#include "app/ControlIds.h"
#include "platform/Messages.h"
#include "platform/OsVersion.h"
#include "platform/PortWatch.h"
#include "platform/SerialDeviceFactory.h"
#include "platform/ThreadNotifier.h"
#include "serial/DriverCheck.h"
#include "serial/HexText.h"
#include "serial/PortList.h"
#include "serial/SerialChannel.h"

namespace talvo {

Q_LOGGING_CATEGORY(lcPortWatch, "talvo.ports")

void MainWindowCore::PrepareChannel() {
    if (!SerialDevices)
        SerialDevices = Services.devices ? Services.devices
                                         : std::make_shared<SystemSerialDeviceFactory>(Services.devRoot);
    Channel->setDeviceFactory(SerialDevices.get());
    Channel->setNotifyTarget(this);
    Channel->setMessageSink([this](const QString& text) { Panel.messageBox(text, AppTitle(), MsgIcon::Warning); });
}

bool MainWindowCore::OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) {
    if (!PortOpenAllowed) return true;
    PrepareChannel();
    const QString port = Downloading ? DownloadPort : CurrentPort;
    if (Channel->Open(port, baud, parity, 8, 0, eventChar)) return true;

    const DeviceStatus why = Channel->LastError();
    QString text = QStringLiteral("%1口不能打开,把USB拔了重试！\n  \n     具体请参考《故障诊断》").arg(port);
    text += QStringLiteral("\n原因：%1").arg(why.describe());
    if (why.error == EACCES)
        text += QStringLiteral("\n没有使用串口的权限：请把当前用户加入 dialout 组"
                               "（sudo usermod -aG dialout $USER），然后重新登录。");
    Panel.messageBox(text, QStringLiteral("串口提示：—不能打开串口"), MsgIcon::Warning);
    PortOpenAllowed = false;
    return false;
}

bool MainWindowCore::OpenSelectedPort(uint32_t baud, uint8_t parity, uint8_t eventChar) {
    PortOpenAllowed = true;
    return OpenPort(baud, parity, eventChar);
}

void MainWindowCore::ClosePort() {
    AwaitLineFree();
    PortOpenAllowed = false;
    if (Channel->Close() == 0) Panel.messageBox(QStringLiteral("关闭串口失败"), QString(), MsgIcon::None);
    PortOpenAllowed = true;
}

void MainWindowCore::SendHexText(const QString& text) { WriteToLine(hexTextToBytes(text)); }

void MainWindowCore::OnSerialData() {
    // What the port holds, after the reply delay; a reply may come in several
    // chunks, and the protocol assembles it from all of them.
    const unsigned n = Channel->Read(ReceiveBuffer, SerialChannel::kQueueSize);
    ReceivedBytes.append(ReceiveBuffer.constData(), static_cast<qsizetype>(n));
    LastPortRead = std::chrono::steady_clock::now();
}

void MainWindowCore::StopChannel() {
    if (Channel) Channel->Stop();
}

void MainWindowCore::RefreshPortList() {
    const PortListing listing = listSerialPorts(Services.sysfsRoot, Services.extraPorts);
    // 1. The system's list of ttys cannot be read: say so and go on.
    if (!listing.systemListReadable) Panel.messageBox(noPortListMessage(), AppTitle(), MsgIcon::Warning);
    // 2. One log line per USB serial port; the last Prolific port names the
    //    driver (a refresh without one keeps the name found before).
    for (const QString& line : listing.logLines) AppendLog(line);
    if (!listing.driverFileName.isEmpty()) DriverFileName = listing.driverFileName;
    // 3. The driver's version is read where it is used (the driver check).
    // 4.-6. The list has no fixed capacity: every port found is listed.
    PortEntries = listing.entries;
    PortDevices = listing.devices;
    Panel.setItems(ctl::PortList, PortEntries.isEmpty() ? QStringList{noPortItem()} : PortEntries);
    if (!PortDevices.isEmpty()) CurrentPort = PortDevices.first();
    Panel.setCurrentIndex(ctl::PortList, 0);
}

void MainWindowCore::OnPortSelected() {
    const int index = Panel.currentIndex(ctl::PortList);
    const QStringList items = Panel.items(ctl::PortList);
    if (index < 0 || index >= items.size()) return;
    const QString& entry = items[index];
    if (index < PortEntries.size() && PortEntries[index] == entry && index < PortDevices.size())
        CurrentPort = PortDevices[index];
    else if (entry == noPortItem())
        CurrentPort.clear();
    else
        CurrentPort = portEntryDevice(entry);
}

bool MainWindowCore::SelectPort(const QString& device) {
    const int index = PortDevices.indexOf(device);
    if (index < 0) return false;
    Panel.setCurrentIndex(ctl::PortList, index);
    CurrentPort = PortDevices[index];
    return true;
}

void MainWindowCore::StartPortWatch() {
    if (PortWatcher && PortWatcher->running()) return;
    // The watch thread only rings; WM_PORTS_CHANGED is made and handled on
    // this object's thread.
    auto changed = std::make_shared<ThreadNotifier>([this] {
        QEvent e(WM_PORTS_CHANGED);
        QCoreApplication::sendEvent(this, &e);
    });
    PortWatcher = std::make_shared<PortWatch>(Services.devRoot, [changed] { changed->notify(); });
    QString error;
    // A watch that cannot start leaves the list as it is until the next
    // start; nothing is shown to the user.
    if (!PortWatcher->start(&error)) qCWarning(lcPortWatch).noquote() << error;
}

void MainWindowCore::StopPortWatch() {
    if (PortWatcher) PortWatcher->stop();
}

QString MainWindowCore::UsbDriverVersion() const { return ReadDriverVersion(Services.sysfsRoot, DriverFileName); }

bool MainWindowCore::CheckDriverCompatibility() {
    const WindowsGroup group = windowsGroupOf(currentOsVersion());
    return driverSuitsSystem(group, UsbDriverVersion());
}

} // namespace talvo
