#pragma once
// STC bootloader frames, written once for both checksum forms:
//
//   46 B9 | DIR | L_hi L_lo | command | data | checksum | 16
//
// DIR is 6A from the host, 68 from the chip; L counts the bytes from DIR
// through the end byte.  Form 1 (STC89/90): one checksum byte, the sum of
// DIR..last data byte mod 256.  Form 2 (STC10/11/12): the same sum mod 65536,
// two bytes, high first.  STC89 chips send their status frame without the
// two start bytes.
//
// The HexText builders keep the text conventions of the frames as the log
// and the tests know them (constants upper case, computed digits lower case);
// the byte builders and the decoder work on bytes.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace talvo::protocol {

inline constexpr uint8_t kStcStart0 = 0x46;
inline constexpr uint8_t kStcStart1 = 0xB9;
inline constexpr uint8_t kStcHostDir = 0x6A;
inline constexpr uint8_t kStcChipDir = 0x68;
inline constexpr uint8_t kStcEnd = 0x16;
// The length field of frames from the chip: no chip frame is longer than the
// status frame's 59 bytes or shorter than an empty form-1 frame.
inline constexpr int kStcMaxChipFrame = 256;
// Data bytes of a write frame, and the unit the erase counts.
inline constexpr int kStcBlockSize = 128;
inline constexpr int kStcPageSize = 256;

// The HexText builders CMcuType::Checksum and CMcuType::BuildFrame are
// declared with the class (CMcuType.h) and defined in StcFrame.cpp.

// The same frame as bytes (host direction).
QByteArray BuildStcFrame(uint8_t command, const QByteArray& data, int form);
// The write frame of a 128-byte block at `address` (length 8C in form 1, 8D in form 2).
QByteArray BuildStcWriteFrame(uint16_t address, const QByteArray& block, int form);
// The fixed 142-byte erase frame of the two-checksum-byte families, with the
// page count in its fourth and seventh bytes (F0 pages = 60 KB).
inline constexpr uint8_t kStcTwoByteErasePages = 0xF0;
QByteArray StcTwoByteEraseFrame(uint8_t pages = kStcTwoByteErasePages);
// 256-byte pages to erase so that `bytesWritten` bytes from address 0 are
// erased: 2 * ceil(bytes / 512), at most 0xFF.
uint8_t StcErasePages(int bytesWritten);

// ---- Frames from the chip ----------------------------------------------------------
struct StcChipFrame {
    QByteArray bytes;      // the whole frame as received
    QByteArray payload;    // command and data (between the length and the checksum)
    bool withStart = true; // false: the STC89 status form without 46 B9
    int offset = 0;        // where it began in the received bytes
};

struct StcScan {
    std::vector<StcChipFrame> frames; // complete, well-formed frames, in order
    bool partial = false;             // a frame has begun but is not complete yet
    QString rejected;                 // why the last candidate that was complete was refused ("" = none)
};

// Finds every complete chip frame of checksum form `form` in `received`.
// With `statusForm`, a frame may also begin at its direction byte (68 00 LL),
// as the STC89's status frame does.  Candidates whose length, end byte or
// checksum are wrong are skipped (the last reason is kept); bytes between
// frames (noise, the echo of the sync stream) are ignored.
StcScan ScanStcFrames(const QByteArray& received, int form, bool statusForm = false);

// A write acknowledge: the payload 80 SS (one checksum byte) or 00 SS (two),
// SS the sum of the 128 data bytes the chip took.
bool IsStcWriteAnswer(const StcChipFrame& frame, int form);

// The status frame's fields.
struct StcStatus {
    std::vector<uint16_t> counts; // the eight clock counts
    uint8_t version = 0;          // 0x43 = 4.3
    uint8_t stepping = 0;         // 'C'
    uint8_t option = 0;           // byte 22 from the direction byte (one-byte family: FC marks 6-clock mode)
    uint8_t model[2] = {0, 0};    // model code
    QString modelText;            // characters 44..49 as the log and the frames use them (option byte + model)
    QString versionText;          // characters 40..43
};
// Reads the status fields from a status frame's payload (type byte, counts,
// version, stepping, option, model); nullopt when it is too short to hold
// all eight counts and the model code.
std::optional<StcStatus> ReadStcStatus(const StcChipFrame& frame);

} // namespace talvo::protocol
