#pragma once
// Whether a simulated board's flash holds an image: the check with which the
// command line and the window's demo prove a download over a "sim:" port.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace talvo::sim {

// For a "sim:..." port whose board this process has made: "" when the chip's
// flash holds `image` from the chip address `address` on, otherwise what is
// wrong (the first differing address with both bytes, an image that does not
// lie within the flash, no such board).  "" for every other port (a real board
// cannot be read back here).
QString SimFlashMismatch(const QString& port, const QByteArray& image, uint32_t address = 0);

} // namespace talvo::sim
