#include "porttest/ChannelPortTestLink.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include <cerrno>

#include "serial/HexText.h"
#include "serial/SerialChannel.h"

namespace talvo {

ChannelPortTestLink::ChannelPortTestLink(SerialChannel& channel, QString port,
                                         std::function<void(const QString&, const QString&)> showMessage)
    : Channel(channel), Port(std::move(port)), ShowMessage(std::move(showMessage)) {}

QString ChannelPortTestLink::LastReason() const {
    const QString why = Channel.LastError().describe();
    return why.contains(Port) ? why : QStringLiteral("%1: %2").arg(Port, why);
}

QString ChannelPortTestLink::OpenFailureMessage(const QString& port, int error, const QString& reason) {
    QString text = QStringLiteral("%1口不能打开,把USB拔了重试！\n  \n     具体请参考《故障诊断》").arg(port);
    text += QStringLiteral("\n原因：%1").arg(reason);
    if (error == EACCES)
        text += QStringLiteral("\n没有使用串口的权限：请把当前用户加入 dialout 组"
                               "（sudo usermod -aG dialout $USER），然后重新登录。");
    return text;
}

bool ChannelPortTestLink::OpenTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    if (Channel.Open(Port, baud, parity, 8, 0, eventChar)) return true;
    if (reason) *reason = LastReason();
    if (ShowMessage)
        ShowMessage(OpenFailureMessage(Port, Channel.LastError().error, LastReason()),
                    QStringLiteral("串口提示：—不能打开串口"));
    return false;
}

bool ChannelPortTestLink::ConfigureTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) {
    if (Channel.Configure(baud, parity, 8, 0, eventChar)) return true;
    if (reason) *reason = LastReason();
    return false;
}

void ChannelPortTestLink::StartReader() { Channel.StartReader(); }

void ChannelPortTestLink::SendHexText(const QString& text) {
    const QByteArray bytes = hexTextToBytes(text);
    Channel.Write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
}

unsigned ChannelPortTestLink::ReadEcho(QByteArray& buffer, unsigned maximum) { return Channel.Read(buffer, maximum); }

void ChannelPortTestLink::StopChannel() { Channel.Stop(); }

void ChannelPortTestLink::SetReplyDelayMs(int ms) { Channel.ReplyDelayMs.store(ms); }

void ChannelPortTestLink::SetPortTestMode(bool on) { Channel.PortTestMode.store(on); }

void ChannelPortTestLink::SetPortTestTarget(QObject* target) { Channel.setPortTestTarget(target); }

void ChannelPortTestLink::WaitForEvents() {
    // The test's 100 ms timer and the reader's delivery both wake the
    // dispatcher, so the sleep always ends.
    if (QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher())
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace talvo
