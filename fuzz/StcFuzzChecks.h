#pragma once
// What every scan of STC chip frames must hold, whatever the bytes: each
// frame it returns lies within the input, in order and without overlap, and
// is well-formed (start, direction, length, checksum, end byte); its payload
// is the bytes between the length and the checksum.
#include <QByteArray>

#include <cstdint>

#include "FuzzCheck.h"
#include "protocol/StcFrame.h"

namespace talvo::fuzz {

inline void checkStcScan(const QByteArray& received, const protocol::StcScan& scan, int form, bool statusForm) {
    using namespace protocol;
    const int checkBytes = form == 2 ? 2 : 1;
    qsizetype previousEnd = 0;
    for (const StcChipFrame& f : scan.frames) {
        auto at = [&](qsizetype i) { return static_cast<uint8_t>(f.bytes[i]); };
        require(f.offset >= previousEnd && f.offset + f.bytes.size() <= received.size());
        require(received.mid(f.offset, f.bytes.size()) == f.bytes);
        previousEnd = f.offset + f.bytes.size();
        const int dir = f.withStart ? 2 : 0;
        require(f.withStart || statusForm);
        require(f.bytes.size() >= dir + 4 + checkBytes + 1);
        if (f.withStart) require(at(0) == kStcStart0 && at(1) == kStcStart1);
        require(at(dir) == kStcChipDir);
        if (!f.withStart) require(at(1) == 0x00);
        const int length = (at(dir + 1) << 8) | at(dir + 2);
        require(length == f.bytes.size() - dir && length <= kStcMaxChipFrame);
        require(at(f.bytes.size() - 1) == kStcEnd);
        const qsizetype checksumAt = f.bytes.size() - 1 - checkBytes;
        unsigned sum = 0;
        for (qsizetype i = dir; i < checksumAt; ++i) sum += at(i);
        const unsigned got = form == 2 ? (static_cast<unsigned>(at(checksumAt)) << 8) | at(checksumAt + 1) : at(checksumAt);
        require(got == (form == 2 ? (sum & 0xFFFF) : (sum & 0xFF)));
        require(f.payload == f.bytes.mid(dir + 3, checksumAt - (dir + 3)));
    }
}

// A chip frame of checksum form `form` around `payload`, written here from
// the frame layout rather than by the code under test.
inline QByteArray chipFrame(const QByteArray& payload, int form) {
    const int length = static_cast<int>(payload.size()) + (form == 2 ? 6 : 5);
    QByteArray f;
    f.append(static_cast<char>(0x46)).append(static_cast<char>(0xB9)).append(static_cast<char>(0x68));
    f.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    f.append(payload);
    unsigned sum = 0;
    for (qsizetype i = 2; i < f.size(); ++i) sum += static_cast<uint8_t>(f[i]);
    if (form == 2) f.append(static_cast<char>((sum >> 8) & 0xFF));
    f.append(static_cast<char>(sum & 0xFF));
    f.append(static_cast<char>(0x16));
    return f;
}

} // namespace talvo::fuzz
