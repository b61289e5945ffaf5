#pragma once
// Serves a simulated chip behind a pseudo-terminal, so that any program that
// opens serial ports (our host, stm32flash, a terminal) can talk to it.
//
// - The server keeps its own slave descriptor open, so the pty survives the
//   host closing and re-opening it; inotify on the slave node tells when a
//   host opens and closes it (the chip starts on the first open and stops
//   when the last host descriptor closes).
// - The host's rate is read from the slave's termios through the master.  A
//   pty carries no parity, so the host's parity is taken to be the chip's own
//   (8E1 chips work behind a pty with hosts that ask for 8N1).
// - The host's bytes arrive all at once; each gets the time its character
//   would have taken at the host's rate.  Answers are written when the chip
//   sends them; with `pace`, each byte is written when its stop bit would end.
// - A chip that hangs up (fault) gets a fresh pty; the link is moved to it.

#include <deque>
#include <functional>
#include <string>

#include "sim/SimChip.h"

namespace talvo::sim {

class PtyServer : private WireLink {
public:
    struct Options {
        std::string link;  // symlink to the slave, made and removed by the server
        bool pace = false;
        std::function<void(const std::string&)> trace;    // byte traffic and chip events
        std::function<void(const std::string&)> announce; // the slave path (again after a hang-up)
    };

    PtyServer(SimChip& chip, Options options);
    ~PtyServer() override;

    bool start(std::string* error);
    const std::string& slavePath() const { return slavePath_; }
    // Serves until requestStop(); returns 0, or 1 after an I/O error (message in *error).
    int serve(std::string* error);
    // Async-signal-safe: ends serve().
    static void requestStop();

private:
    // WireLink
    void sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, WireClock::time_point notBefore) override;
    WireClock::time_point now() const override { return WireClock::now(); }
    bool paced() const override { return options_.pace; }
    void hangUp() override { hangUpRequested_ = true; }

    bool openPty(std::string* error);
    void closePty();
    bool makeLink(std::string* error);
    LineSettings hostSettings() const;
    // Hands the host's bytes to the chip, sent with `settings` (default: the pty's now).
    bool readHost(std::string* error, const LineSettings* settings = nullptr);
    void writeDue(WireClock::time_point now);
    void readInotify();
    // Takes what the inotify descriptor has into pendingEvents_.
    void fetchInotify();
    // The settings the bytes now waiting on the master were written with
    // (see the definition for what a pty can and cannot tell).
    LineSettings settingsOfWaitingBytes() const;
    void tr(const std::string& text) const;

    struct OutByte {
        WireClock::time_point due;
        uint8_t value;
    };

    SimChip& chip_;
    Options options_;
    int master_ = -1;
    int slave_ = -1;
    int inotify_ = -1;
    int hostOpens_ = 0;
    std::deque<uint32_t> pendingEvents_; // inotify masks taken but not yet handled
    std::string slavePath_;
    std::deque<OutByte> out_;
    LineSettings lastHost_; // the host's settings when its bytes were last read
    WireClock::time_point rxFree_{};
    WireClock::time_point txFree_{};
    bool hangUpRequested_ = false;
    bool linkMade_ = false;
};

} // namespace talvo::sim
