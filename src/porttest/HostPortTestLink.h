#pragma once
// The port test's link over a download host: the port under test is opened
// through the host (with its message when the port cannot be opened) and
// driven through the host's channel.  The window's link shares the window's
// host and opens the selected port; the command line's has a host of its own.

#include <functional>

#include "porttest/PortTestLink.h"

namespace talvo {

class SerialDownloadHost;

class HostPortTestLink : public PortTestLink {
public:
    // `port` names the port under test at each open ("" = none listed).
    HostPortTestLink(SerialDownloadHost& host, std::function<QString()> port);

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

private:
    // The system's reason for the channel's last failure, naming the port.
    QString LastReason() const;

    SerialDownloadHost& Host;
    std::function<QString()> Port;
    QString Opened;       // the port of the last open
    bool Holding = false; // the channel is open for the test
};

} // namespace talvo
