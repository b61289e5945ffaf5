#pragma once
// Which other processes hold a serial device open.  A tty has no lock of its
// own: a program left reading it (`cat /dev/ttyUSB0`, a terminal in another
// window) takes the chip's answers, and a download sees only silence.  The
// holders are found through /proc/<pid>/fd, whose links stand for the files
// each process has open; processes whose descriptors may not be read (other
// users', without privileges) cannot be seen and are not listed.
//
// This process is never listed.  Nor is a process that holds the master side
// of the same pseudo-terminal: it is the device's other end (a simulated chip
// behind a pty link), not a competitor for its bytes.

#include <QString>

#include <vector>

namespace talvo {

struct PortHolder {
    qint64 pid = 0;
    QString command; // its command line, arguments separated by blanks ("[name]" when it has none)
};

// The processes, by ascending pid, that hold `devicePath` (a character device,
// or a link to one) open; none when it is no character device.  `procRoot`
// is the /proc to look in (tests).
std::vector<PortHolder> findPortHolders(const QString& devicePath, const QString& procRoot = QString());

} // namespace talvo
