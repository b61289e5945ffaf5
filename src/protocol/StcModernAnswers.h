#pragma once
// The answers of the STC15A, STC15 and STC8 bootloaders to each step of a
// download, judged against the request they answer (payloads: type byte
// first, between the length field and the checksum).
//
//   step          STC15A                               STC15 / STC8
//   handshake     50 ... -> 8F                         (none)
//   calibration   65 ... -> the request, each 02 00    00 CNT pairs -> 00 CNT + one
//                 replaced by its count                count per slot of the request
//   switch        8E ... -> 84 + request bytes 1-11    01 ... -> 01
//                 + one byte
//   prepare       (none)                               05 -> 05 (0F: locked)
//   erase         84 ... -> 00 + 7-byte UID            03 ... -> 03 + 7-byte UID
//   write         00 ... -> 00 SS (SS = data sum)      22 / 02 ... -> 02 54
//   finish        69 ... -> 8D                         07 ... -> 07 54
//   options       8D ... -> 50 + 40 bytes              04 ... -> 04 54

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

#include "protocol/StcModernStatus.h"

namespace talvo::protocol {

enum class StcModernStep { Handshake, Calibration, Switch, Prepare, Erase, Write, Finish, Options };

struct StcModernAnswer {
    bool ok = false;
    bool locked = false;           // prepare: the chip is locked by a password (0F)
    std::vector<uint16_t> counts;  // calibration: one per challenge of the request
    QByteArray uid;                // erase: the chip's 7-byte unique ID
    // STC15A options: the option bytes MCS0..MCS12 the chip now holds and its trim.
    QByteArray options;
    uint16_t trim = 0;
    QString why;                   // when not ok: what is wrong, with the bytes
};

StcModernAnswer ReadStcModernAnswer(StcModernFamily family, StcModernStep step, const QByteArray& answer,
                                    const QByteArray& request);

// The data bytes of a write request (STC15A: after 00 00 00 Ah Al 00 40;
// STC15/STC8: after 22|02 Ah Al and the marker 5A A5 where present).
QByteArray StcModernWriteData(StcModernFamily family, const QByteArray& request);

} // namespace talvo::protocol
