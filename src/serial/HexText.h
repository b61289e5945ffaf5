#pragma once
// HexText: a text that stands for a byte string, two hexadecimal digits per
// byte, most significant digit first, no separators.  Frames the program
// composes use "0"-"9" and "A"-"F"; received bytes are written in lower case.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstddef>
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

// Received bytes as lower-case HexText ("%02x" per byte).
QString bytesToHexText(const uint8_t* data, size_t n);
inline QString bytesToHexText(const QByteArray& bytes, qsizetype n) {
    return bytesToHexText(reinterpret_cast<const uint8_t*>(bytes.constData()),
                          static_cast<size_t>(qBound<qsizetype>(0, n, bytes.size())));
}

} // namespace talvo
