#pragma once
// A minimal Intel HEX writer for tests: builds records from their fields, so
// test inputs are written independently of the converter's reading code.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <initializer_list>

namespace talvo::test {

// One record ":LLAAAATT<data>CC\n" with a correct checksum (or `checksumDelta`
// added to it, to make a wrong one).
inline QByteArray hexRecord(int type, uint16_t address, const QByteArray& data, int checksumDelta = 0,
                            bool lowerCase = false) {
    QByteArray body;
    body.append(char(data.size()));
    body.append(char(address >> 8));
    body.append(char(address & 0xFF));
    body.append(char(type));
    body.append(data);
    unsigned sum = 0;
    for (char c : body)
        sum += static_cast<uint8_t>(c);
    body.append(char((0x100 - (sum & 0xFF) + checksumDelta) & 0xFF));
    QByteArray text = body.toHex();
    if (!lowerCase)
        text = text.toUpper();
    return ":" + text + "\n";
}

inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// n bytes that count up by `step` from 1 (wrapping), easy to tell apart.
inline QByteArray counting(int n, int step = 1) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char(i * step + 1);
    return b;
}

inline QByteArray dataRecord(uint16_t address, const QByteArray& data) { return hexRecord(0, address, data); }
inline QByteArray eofRecord() { return ":00000001FF\n"; }
inline QByteArray segmentRecord(uint16_t base) { return hexRecord(2, 0, bytes({base >> 8, base & 0xFF})); }
inline QByteArray linearRecord(uint16_t base) { return hexRecord(4, 0, bytes({base >> 8, base & 0xFF})); }

// The records of `data` at the 32-bit `address`: an extended linear address
// record, then data records of 16 bytes (no end-of-file record; all within
// one 64 KB segment).
inline QByteArray linearData(uint32_t address, const QByteArray& data) {
    QByteArray text = linearRecord(static_cast<uint16_t>(address >> 16));
    for (qsizetype i = 0; i < data.size(); i += 16)
        text += dataRecord(static_cast<uint16_t>((address & 0xFFFF) + i), data.mid(i, 16));
    return text;
}

} // namespace talvo::test
