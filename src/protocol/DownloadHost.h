#pragma once
// The narrow interface through which a download protocol (STC, STM32) talks
// to the program around it: bytes out, bytes in, the port's settings and
// modem lines, 100 ms ticks, log lines and progress.
//
// The protocol code never sees a window, a control id or the serial channel.
// SerialDownloadHost (src/host) implements this over the serial channel, its
// reader thread and the download tick, in real time, serving the thread's
// events while it waits (the window's, or the command line's); the
// virtual-time host (sim/VirtualHost) implements it over a simulated wire.
// Both keep the same contract:
//
//  - Every open uses the port chosen when the download started (a refresh of
//    the port list meanwhile does not change it), 8 data bits, one stop bit.
//  - Received bytes are collected, in order and without loss, into one buffer
//    from the last Send() (or ForgetReceived()) on; closing and re-opening the
//    port keeps them.  A protocol assembles its replies from that buffer, so
//    a reply split over several reads is still one reply.
//  - Ticks: Ticks() counts 100 ms ticks while counting is on.  ResetTicks()
//    sets the count to 0 and stops it; Wait() starts it.  A limit of N means
//    "fail once the count exceeds N", as the tick limits of the protocols are
//    stated.
//  - Wait() asks its judge whenever bytes have arrived (and once at once); it
//    ends as soon as the judge says the buffer holds what was awaited.
//  - ClosePort() and ConfigurePort() first let the bytes written last leave
//    the converter: they wait until the wire time of everything written (each
//    write queued behind the one before it; bytes x bits per character /
//    rate, 10 bits for 8N1 and 11 for 8E1) plus kLineSettleMarginMs has
//    passed since it was written.  A write returns when the driver's queue is
//    empty, but converters whose driver cannot tell when their transmitter is
//    empty (CH340, PL2303) may still be sending: a new rate, or the purge of
//    a close, would cut the frame's tail.  Pauses the protocol makes come on
//    top of this wait.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace talvo::protocol {

// Parity codes as the serial layer numbers them.
inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kParityEven = 2;

// What ClosePort() and ConfigurePort() allow beyond the wire time of the
// bytes written last: the converter's start (a USB frame or two) and its
// transmit register.
inline constexpr int kLineSettleMarginMs = 10;

enum class WaitResult {
    Replied,   // the judge found the awaited bytes
    TimedOut,  // the tick count passed the limit
    PortLost,  // the port went away (converter pulled out, device hung up)
    Cancelled  // the user stopped the download (Ctrl-C, window closed)
};

// Says whether `received` (everything since the last Send) holds the reply
// that is awaited -- or anything else that ends the wait, such as a refusal;
// the protocol looks at the bytes again afterwards to tell which.
using ReplyJudge = std::function<bool(const QByteArray& received)>;

class DownloadHost {
public:
    virtual ~DownloadHost() = default;

    // ---- The port ---------------------------------------------------------------
    // Opens the download's port.  On failure the host has already told the
    // user (a message box naming the port and the system's reason).
    virtual bool OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) = 0;
    // Closes the port (once what was written has left, see above); bytes
    // already received stay in Received().
    virtual void ClosePort() = 0;
    // New rate, parity and event character for the open port (once what was
    // written has left, see above); false with the system's reason in *reason
    // when the port does not take them.
    virtual bool ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) = 0;
    // Starts watching the port for received bytes (once per download, after
    // the first open).
    virtual void StartReader() = 0;
    virtual bool SetRts(bool on) = 0;
    virtual bool SetDtr(bool on) = 0;
    // How long the receiver lets an answer settle after its event character
    // before handing the bytes on, in milliseconds.
    virtual void SetReplyDelay(int ms) = 0;
    // The port's name as the user knows it, for messages.
    virtual QString PortName() const = 0;

    // ---- Bytes ------------------------------------------------------------------
    // Sends `bytes` and returns when they have left the host; false when the
    // port could not take them.  Unless `keepReceived`, what was received
    // before is forgotten first: the reply to these bytes starts afresh.
    virtual bool Send(const QByteArray& bytes, bool keepReceived = false) = 0;
    // Everything received since the last Send() or ForgetReceived().
    virtual QByteArray Received() const = 0;
    // Forgets what was received, including bytes still held by the port.
    virtual void ForgetReceived() = 0;
    // The STC sync stream: the pair 7F 7F every 14 ms while it runs.  Its
    // bytes do not forget what was received.
    virtual void StartSync() = 0;
    virtual void StopSync() = 0;

    // ---- Time ---------------------------------------------------------------------
    virtual void ResetTicks() = 0;
    virtual int Ticks() const = 0;
    // Starts the ticks counting and serves the program meanwhile, until the
    // judge is satisfied, Ticks() exceeds `tickLimit`, the port goes away or
    // the user stops the download.
    virtual WaitResult Wait(int tickLimit, const ReplyJudge& judge) = 0;
    // Lets `ms` milliseconds pass, serving the program; bytes keep arriving.
    // False when the user stopped the download meanwhile.
    virtual bool Pause(int ms) = 0;

    // ---- The end of a download, and reporting -----------------------------------
    // Returns the program to its idle state: ticks stopped, sync stopped, port
    // closed, progress 0, download controls enabled.  Harmless twice.
    virtual void EndDownload() = 0;
    virtual void Log(const QString& line) = 0;
    // Progress, 0 to 1024.
    virtual void Progress(int position) = 0;
    // A message box without caption (OK button); returns when it is answered.
    virtual void Message(const QString& text) = 0;
    // The two troubleshooting texts: the chip did not answer / the port could
    // not be opened.
    virtual QString ConnectDiagnosis() const = 0;
    virtual QString PortDiagnosis() const = 0;
};

// What a download came to, for the command line's summary and the tests.
struct DownloadReport {
    bool success = false;
    QString chip;           // the model label the log shows ("STC89C52", "STM32F103 (0x410)")
    double crystalMHz = 0;  // measured crystal (STC), 0 when not measured
    uint32_t baud = 0;      // the rate the image went over
    int bytes = 0;          // image bytes written
    QString failure;        // the log line that names the failing stage ("" on success)
    bool readProtected = false; // STM32: the chip's read protection was on
    bool unprotected = false;   // STM32: ... and was removed in this session (the whole flash erased)
    // STC: the chip that answered belongs to another chip type than the one
    // chosen: that type's index in the chip-type list (-1: none).
    int suggestedChipType = -1;
};

} // namespace talvo::protocol
