#pragma once
// STC bootloader frames as bytes, written once for both checksum forms:
//
//   46 B9 | DIR | L_hi L_lo | command | data | checksum | 16
//
// DIR is 6A from the host, 68 from the chip; L counts the bytes from DIR
// through the end byte.  Form 1 (one checksum byte): the sum of DIR..last
// data byte mod 256.  Form 2 (two checksum bytes): the same sum mod 65536,
// high byte first.  STC89 chips send their status frame without the two
// start bytes.
//
// BuildFrame makes every frame the host sends; ScanStcFrames finds the
// chip's frames in what arrived, and ReadStcStatus reads the status frame's
// fields.

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
// The unit the erase counts.
inline constexpr int kStcPageSize = 256;

// The checksum of a frame of form `form` over `fromDirection`: its bytes
// from the direction byte through the last data byte.  Form 1: the sum mod
// 256 (one byte); form 2: mod 65536 (two bytes).
uint16_t Checksum(const QByteArray& fromDirection, int form);
// One whole frame from the host: start, direction 6A, length, `command`,
// `data`, checksum and end byte; empty for a form other than 1 or 2.
QByteArray BuildFrame(uint8_t command, const QByteArray& data, int form);
// The write frame of one block at `address`: command 00, data 00 00, the
// address (high byte first), the block's length (two bytes), the block.
QByteArray BuildWriteFrame(uint16_t address, const QByteArray& block, int form);
// The 142-byte erase frame of the two-checksum-byte families, with the page
// count in its fourth and seventh data bytes (F0 pages = 60 KB).
inline constexpr uint8_t kStcTwoByteErasePages = 0xF0;
QByteArray StcTwoByteEraseFrame(uint8_t pages = kStcTwoByteErasePages);
// 256-byte pages to erase so that `bytesWritten` bytes from address 0 are
// erased: 2 * ceil(bytes / 512), at least 2, at most 0xFF.
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

// A write acknowledge: the payload `answerCommand` SS, SS the sum of the data
// bytes the chip took.
bool IsStcWriteAnswer(const StcChipFrame& frame, uint8_t answerCommand);

// The status frame's fields.
struct StcStatus {
    std::vector<uint16_t> counts; // the eight clock counts
    uint8_t version = 0;          // 0x43 = 4.3
    uint8_t stepping = 0;         // 'C'
    uint8_t option = 0;           // the byte before the model code (FC F0 ...: the 6-clock marker)
    uint8_t model[2] = {0, 0};    // model code
    uint16_t modelCode() const { return static_cast<uint16_t>(model[0] << 8 | model[1]); }
    // The option byte and the model's first byte read FC F0: the chip runs
    // in 6-clock mode, which halves the baud estimate.
    bool sixClockMarker() const { return option == 0xFC && model[0] == 0xF0; }
};
// Reads the status fields from a status frame's payload (type byte, counts,
// version, stepping, option, model); nullopt when it is too short to hold
// all eight counts and the model code.
std::optional<StcStatus> ReadStcStatus(const StcChipFrame& frame);

} // namespace talvo::protocol
