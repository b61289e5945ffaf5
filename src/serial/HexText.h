#pragma once
// HexText: a text that stands for a byte string, two hexadecimal digits per
// byte, most significant digit first, no separators -- the port test's
// blocks as a person reads them.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace talvo {

// The value of a group of one or two characters as the C library's wide
// string-to-long conversion (wcstol, base 16) reads it, low 8 bits kept:
// leading blanks are skipped, one sign is taken ("-1" gives 0xFF), the digits
// that follow are read until a character that is not a hex digit ("1G" gives
// 1, "G1" and "x5" give 0).
uint8_t hexGroupValue(QStringView group);

// The bytes a HexText of length L sends: floor(L/2) of them, byte i from
// characters 2i and 2i+1 by hexGroupValue.  A trailing odd character is
// converted on its own but not sent.
QByteArray hexTextToBytes(QStringView text);

} // namespace talvo
