#pragma once
// Line settings of a Linux tty through termios2 (TCGETS2/TCSETS2 with BOTHER),
// which takes any baud rate.  The kernel's <asm/termbits.h> cannot be included
// together with <termios.h>, so this code lives in its own source file and
// this header exposes only plain types.

#include <cstdint>

namespace talvo::tty {

struct Line {
    uint32_t inputBaud = 0;
    uint32_t outputBaud = 0;
    uint8_t parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t dataBits = 8; // 5..8
    bool twoStopBits = false;
    bool raw = false;     // no input/output/line processing, VMIN = 1, VTIME = 0
};

// Puts the tty into raw mode with `line`'s framing and rate.  With
// `keepFraming` the character size and parity are left as the tty has them
// (a pseudo-terminal forces 8 bits without parity).  Returns 0 or an errno.
int setLine(int fd, const Line& line, bool keepFraming);
// Reads the settings in force.  Returns 0 or an errno.
int getLine(int fd, Line* line);
// Discards both queues.
int flushBoth(int fd);
int flushInput(int fd);
// Bytes waiting to be read.
int inputQueued(int fd, int* count);
// Bytes written but not yet sent by the driver.
int outputQueued(int fd, int* count);
// Raises or lowers RTS or DTR.
int setModemLine(int fd, bool rts, bool on);
// Refuses further opens of the tty (TIOCEXCL).
int setExclusive(int fd);

} // namespace talvo::tty
