#pragma once
// A download host over a simulated chip in virtual time: the protocol code
// runs unchanged, the chip answers as it would on a wire, and a download that
// takes a minute on a board takes milliseconds here -- deterministic, with
// every byte, tick and line change at an exact time.
//
// The host end behaves as the window's serial channel does:
//  - its UART sends bytes one after the other at the configured rate, and
//    Send() returns when the last one has left;
//  - the chip's answers pass through the host UART's receiver model with the
//    settings in force when each byte arrives; a closed port hears nothing;
//  - received bytes are held as by a driver and handed to the protocol when
//    the receiver would notify (the event character after a completed write,
//    then twice the reply delay, as the reader and the read each wait once),
//    and in any case at every 100 ms tick, so that nothing is lost;
//  - ticks come every 100 ms from the host's creation on and count while
//    counting is on; the sync stream sends 7F 7F every 14 ms, or as soon as
//    the line is free when it is slower than that;
//  - ClosePort() and ConfigurePort() wait until the bytes written have left
//    and the margin has passed, as the window's host does; the closes that
//    end a download do not.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "platform/Wire.h"
#include "protocol/DownloadHost.h"
#include "sim/Faults.h"
#include "sim/SimChip.h"

namespace talvo::sim {

class VirtualHost : public protocol::DownloadHost, private WireLink {
public:
    // A byte on the wire in either direction, for tests and floors.
    struct WireByte {
        TimePoint end;        // the end of its stop bit
        uint8_t value;
        bool fromHost;
        LineSettings settings;
    };

    explicit VirtualHost(WirePeer& chip, QString portName = QStringLiteral("sim"));
    ~VirtualHost() override;

    // ---- What happened ---------------------------------------------------------------
    QStringList log;
    std::vector<int> progress;      // every position set
    QStringList messages;           // message boxes
    int endDownloads = 0;           // EndDownload calls
    // Time ClosePort() and ConfigurePort() waited for the line to be free.
    double lineWaitSeconds = 0;
    std::vector<WireByte> wire;     // every byte, both directions (when recordWire)
    bool recordWire = false;

    TimePoint start() const { return start_; }
    TimePoint now() const override { return now_; }
    double elapsedSeconds() const;
    bool portOpen() const { return open_; }
    const LineSettings& hostSettings() const { return settings_; }
    ModemLines lines() const { return lines_; }
    int opens() const { return opens_; }
    // Inside Wait(), and how many waits have begun: a chip that answers the
    // host's waits (the fuzzers') looks at them.
    bool waiting() const { return waiting_; }
    int waitsBegun() const { return waits_; }

    // ---- Failures to stage -------------------------------------------------------------
    // Called with the 1-based number of each open; true makes that open fail.
    std::function<bool(int openNumber)> failOpen;
    // Called with the rate of each configuration; true makes it fail.
    std::function<bool(uint32_t baud)> failConfigure;
    // The user stops the download this long after the host was created.
    std::optional<double> cancelAfterSeconds;
    // A converter whose driver cannot tell when its transmitter is empty
    // (CH340, PL2303): Send() returns as soon as the bytes are queued, a
    // close drops what has not left yet, and a new rate or parity applies to
    // the queued bytes that have not started.
    bool writeReturnsAtOnce = false;
    // Hands received bytes over in random pieces, as a busy machine or a USB
    // converter's latency splits a reply over several reads: after each byte,
    // with probability `chance`, what is held so far is handed on at once
    // (the rest follows at the event character or the next tick, as always).
    void splitReads(double chance, uint64_t seed);

    // ---- DownloadHost -------------------------------------------------------------------
    bool OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) override;
    void ClosePort() override;
    bool ConfigurePort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override;
    void StartReader() override {}
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    void SetReplyDelay(int ms) override { replyDelayMs_ = ms; }
    QString PortName() const override { return portName_; }
    bool Send(const QByteArray& bytes, bool keepReceived = false) override;
    QByteArray Received() const override { return received_; }
    void ForgetReceived() override;
    void StartSync() override;
    void StopSync() override { syncOn_ = false; }
    void ResetTicks() override;
    int Ticks() const override { return ticks_; }
    protocol::WaitResult Wait(int tickLimit, const protocol::ReplyJudge& judge) override;
    bool Pause(int ms) override;
    void EndDownload() override;
    void Log(const QString& line) override { log << line; }
    void Progress(int position) override { progress.push_back(position); }
    void Message(const QString& text) override { messages << text; }
    QString ConnectDiagnosis() const override;
    QString PortDiagnosis() const override;

private:
    // WireLink, for the chip.
    void sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, TimePoint notBefore) override;
    void hangUp() override;

    struct InFlight {
        TimePoint end;
        uint8_t value;
        LineSettings settings;
    };
    // Queues bytes on the host UART (from now, or when the line is free).
    void transmit(const QByteArray& bytes);
    // Lets the bytes written leave, and the margin pass.
    void awaitLineFree();
    void closePort();
    // The next moment something happens, and doing it.
    TimePoint nextEvent() const;
    void step();
    // Advances until `until` (events on the way are served).
    void runUntil(TimePoint until);
    void takeHeld();
    bool cancelled() const;

    WirePeer& chip_;
    QString portName_;
    TimePoint start_;
    TimePoint now_;

    bool open_ = false;
    bool lost_ = false;
    int opens_ = 0;
    LineSettings settings_;
    uint8_t eventChar_ = 0;
    ModemLines lines_;
    int replyDelayMs_ = 0;

    // Host UART.
    std::deque<InFlight> tx_;
    TimePoint txFree_;
    // Chip UART.
    std::deque<InFlight> rx_;
    TimePoint chipTxFree_;
    // Received, not yet handed on / handed on.
    QByteArray held_;
    QByteArray received_;
    bool writeDone_ = false;              // a write completed since the last hand-over
    std::optional<TimePoint> notifyAt_;   // the receiver hands on at this time
    bool waiting_ = false;                // inside Wait: arrivals are handed on at once
    int waits_ = 0;
    double splitChance_ = 0.0;
    Rng splitRng_;

    // Ticks and the sync stream.
    int ticks_ = 0;
    bool ticking_ = false;
    TimePoint nextTick_;
    bool syncOn_ = false;
    TimePoint nextSync_;
};

} // namespace talvo::sim
