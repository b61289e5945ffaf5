#include "porttest/HostPortTestLink.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include "host/SerialDownloadHost.h"
#include "serial/HexText.h"
#include "serial/SerialChannel.h"

namespace talvo {

HostPortTestLink::HostPortTestLink(SerialDownloadHost& host, std::function<QString()> port)
    : Host(host), Port(std::move(port)) {}

QString HostPortTestLink::LastReason() const {
    return Host.Channel().LastError().explainOpenFailure(Opened);
}

bool HostPortTestLink::OpenTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    Opened = Port();
    Holding = Host.OpenPortNamed(Opened, baud, parity, eventChar);
    if (Holding) return true;
    if (reason) {
        if (Opened.isEmpty())
            *reason = QCoreApplication::translate("HostPortTestLink", "没有可用的串口（串口列表为空）");
        else if (!Host.OpenRefusal().isEmpty())
            *reason = Host.OpenRefusal();
        else
            *reason = LastReason();
    }
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

void HostPortTestLink::StopChannel() {
    // A test refused its port leaves the channel to whoever holds it.
    if (!Holding) return;
    Host.StopChannel();
    Host.ReleasePortNamed();
    Holding = false;
}

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
