#pragma once
// Whether a simulated board's flash holds an image: the check with which the
// command line and the window's demo prove a download over a "sim:" port.

#include <QByteArray>
#include <QString>

namespace talvo::sim {

// For a "sim:..." port whose board this process has made: "" when the chip's
// flash begins with `image`, otherwise what is wrong (the first differing
// address with both bytes, an image larger than the flash, no such board).
// "" for every other port (a real board cannot be read back here).
QString SimFlashMismatch(const QString& port, const QByteArray& image);

} // namespace talvo::sim
