#pragma once
// The port test's link over a SerialChannel and a named port: the command
// line's link, and the base of the main window's (which opens through its own
// OpenPort instead).

#include <functional>

#include "porttest/PortTestLink.h"

namespace talvo {

class SerialChannel;

class ChannelPortTestLink : public PortTestLink {
public:
    // `showMessage` tells the user that the port cannot be opened (text, caption).
    ChannelPortTestLink(SerialChannel& channel, QString port,
                        std::function<void(const QString&, const QString&)> showMessage = {});

    void SetPort(const QString& port) { Port = port; }
    const QString& PortName() const { return Port; }

    bool OpenTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override;
    bool ConfigureTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override;
    void StartReader() override;
    void SendHexText(const QString& text) override;
    unsigned ReadEcho(QByteArray& buffer, unsigned maximum) override;
    void StopChannel() override;
    void SetReplyDelayMs(int ms) override;
    void SetPortTestMode(bool on) override;
    void SetPortTestTarget(QObject* target) override;
    void WaitForEvents() override;

    // The system's reason for the channel's last failure, naming the port.
    QString LastReason() const;
    // The message the command line and the window show for a port that cannot
    // be opened (with the dialout hint when access was refused).
    static QString OpenFailureMessage(const QString& port, int error, const QString& reason);

protected:
    SerialChannel& Channel;

private:
    QString Port;
    std::function<void(const QString&, const QString&)> ShowMessage;
};

} // namespace talvo
