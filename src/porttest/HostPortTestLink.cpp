#include "porttest/HostPortTestLink.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include "host/SerialDownloadHost.h"
#include "serial/HexText.h"
#include "serial/SerialChannel.h"

namespace talvo {

HostPortTestLink::HostPortTestLink(SerialDownloadHost& host, std::function<QString()> port)
    : Host(host), Port(std::move(port)) {}

QString HostPortTestLink::LastReason() const {
    const QString why = Host.Channel().LastError().describe();
    return why.contains(Opened) ? why : QStringLiteral("%1: %2").arg(Opened, why);
}

bool HostPortTestLink::OpenTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    Opened = Port();
    if (Host.OpenPortNamed(Opened, baud, parity, eventChar)) return true;
    if (reason) *reason = Opened.isEmpty() ? QStringLiteral("没有可用的串口（串口列表为空）") : LastReason();
    return false;
}

bool HostPortTestLink::ConfigureTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    if (Host.Channel().Configure(baud, parity, 8, 0, eventChar)) return true;
    if (reason) *reason = LastReason();
    return false;
}

void HostPortTestLink::StartReader() { Host.Channel().StartReader(); }

void HostPortTestLink::SendHexText(const QString& text) {
    const QByteArray bytes = hexTextToBytes(text);
    Host.Channel().Write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
}

unsigned HostPortTestLink::ReadEcho(QByteArray& buffer, unsigned maximum) {
    return Host.Channel().Read(buffer, maximum);
}

void HostPortTestLink::StopChannel() { Host.StopChannel(); }

void HostPortTestLink::SetReplyDelayMs(int ms) { Host.Channel().ReplyDelayMs.store(ms); }

void HostPortTestLink::SetPortTestMode(bool on) { Host.Channel().PortTestMode.store(on); }

void HostPortTestLink::SetPortTestTarget(QObject* target) { Host.Channel().setPortTestTarget(target); }

void HostPortTestLink::WaitForEvents() {
    // The test's 100 ms timer and the reader's delivery both wake the
    // dispatcher, so the sleep always ends.
    if (QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher())
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace talvo
