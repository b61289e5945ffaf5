// Kept apart from every file that includes <termios.h>: see TtyTermios2.h.
#include "platform/TtyTermios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace talvo::tty {

namespace {
int result(int rc) { return rc < 0 ? errno : 0; }
} // namespace

int setLine(int fd, const Line& line, bool keepFraming) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) < 0) return errno;

    t.c_iflag = 0;                 // no break/parity/flow handling, no CR/NL mapping
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    if (!keepFraming) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
        switch (line.dataBits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        default: t.c_cflag |= CS8; break;
        }
        switch (line.parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
    }
    if (line.twoStopBits)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    t.c_ispeed = line.inputBaud;
    t.c_ospeed = line.outputBaud;
    // With the descriptor non-blocking, VMIN 1 makes an empty read fail with
    // EAGAIN; a read of 0 bytes then only means a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return result(ioctl(fd, TCSETS2, &t));
}

int getLine(int fd, Line* line) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) < 0) return errno;
    line->inputBaud = t.c_ispeed;
    line->outputBaud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: line->dataBits = 5; break;
    case CS6: line->dataBits = 6; break;
    case CS7: line->dataBits = 7; break;
    default: line->dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        line->parity = 0;
    else if (t.c_cflag & CMSPAR)
        line->parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        line->parity = (t.c_cflag & PARODD) ? 1 : 2;
    line->twoStopBits = (t.c_cflag & CSTOPB) != 0;
    line->raw = t.c_iflag == 0 && t.c_oflag == 0 && !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) &&
                t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
    return 0;
}

int flushBoth(int fd) { return result(ioctl(fd, TCFLSH, TCIOFLUSH)); }
int flushInput(int fd) { return result(ioctl(fd, TCFLSH, TCIFLUSH)); }

int inputQueued(int fd, int* count) { return result(ioctl(fd, TIOCINQ, count)); }

int setModemLine(int fd, bool rts, bool on) {
    int bits = rts ? TIOCM_RTS : TIOCM_DTR;
    return result(ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits));
}

int outputQueued(int fd, int* count) { return result(ioctl(fd, TIOCOUTQ, count)); }

int setExclusive(int fd) { return result(ioctl(fd, TIOCEXCL)); }

} // namespace talvo::tty
