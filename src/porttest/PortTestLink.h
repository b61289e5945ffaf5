#pragma once
// What the loopback test needs from the serial channel and its timing, and
// nothing more: open and reconfigure the port under test, send a block, read
// its echo, the reader's settings (reply delay, port-test delivery) and a
// pump that sleeps until the next event.  HostPortTestLink implements it
// over a download host: the window's (which opens the selected port) or one
// of the command line's own.

#include <QByteArray>
#include <QString>

#include <cstdint>

class QObject;

namespace talvo {

class PortTestLink {
public:
    virtual ~PortTestLink() = default;

    // Opens the port under test with 8 data bits and one stop bit.  On
    // failure the link has already told the user in its own words, and
    // *reason holds the system's reason, naming the port.
    virtual bool OpenTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) = 0;
    // Sets rate and event character of the open port again (8 data bits, one
    // stop bit); on failure the port is closed and *reason says why.
    virtual bool ConfigureTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) = 0;
    virtual void StartReader() = 0;
    // Sends the bytes a HexText stands for (the result is not reported).
    virtual void SendHexText(const QString& text) = 0;
    // Takes the echo: after the reply delay, what has arrived, at most
    // `maximum` bytes; zero-fills the buffer first when anything is there.
    virtual unsigned ReadEcho(QByteArray& buffer, unsigned maximum) = 0;
    virtual void StopChannel() = 0;

    virtual void SetReplyDelayMs(int ms) = 0;
    virtual void SetPortTestMode(bool on) = 0;
    // The object that receives WM_PORTTEST_DATA (null: none).
    virtual void SetPortTestTarget(QObject* target) = 0;

    // Dispatches the events queued for this thread; when none is queued,
    // sleeps until the next one arrives (a timer tick, the reader's delivery).
    virtual void WaitForEvents() = 0;
};

} // namespace talvo
