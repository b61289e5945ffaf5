#pragma once
// What sets the STC families apart in a download, one row per family: the
// frames' checksum form, the parity, the handshake's line settings, the
// rate-switch-and-erase variant and its parameters, the block size, the
// chip's answers, the closing frames and the model label.  The download
// (CMcuType) reads everything family-specific from its row; a family whose
// bootloader works like one of these is a new row.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace talvo::protocol {

// How the link moves from the handshake rate to the download rate and the
// chip is erased (the steps are CMcuType's SwitchAndErase operations).
enum class StcSwitchVariant {
    // 8F and 8E each answered at the new rate, five control frames 80, the
    // erase frame 84 with its page count (one checksum byte).
    OneByte,
    // 50 answered, then 8F and 8E answered at the new rate, the fixed erase
    // frame (two checksum bytes).
    TwoByte,
    // The STC15A, STC15 and STC8 bootloaders: the RC oscillator trimmed, one
    // switch frame, prepare, erase, writes, finish and the option block
    // (CMcuType's modern steps; StcModernAnswers.h lists the frames).
    Modern,
};

// The line during the handshake in one speed mode: its rate, and how long
// the receiver lets the status frame settle after its event character.
struct StcHandshakeLine {
    int baud;
    int settleMs;
};

// A frame after the last block: its command, its data (hexadecimal digits),
// its checksum form, and whether its answer is awaited.
struct StcClosingFrame {
    uint8_t command;
    const char* data;
    int form;
    bool awaited;
};

struct StcFamily {
    const char* key;             // "stc89"
    // The crystal factor and reload formulas (StcClock.h): 1 or 2.
    int familyCode;
    int checksumForm;            // the download's frames: 1 (one byte) or 2 (two bytes)
    uint8_t parity;              // kParityNone or kParityEven, for the whole download
    StcHandshakeLine highSpeed;  // "高速下载"
    StcHandshakeLine lowSpeed;   // "低速下载"
    StcSwitchVariant switchVariant;
    // The rate-switch parameter: head, the reload byte, then the tail of the
    // speed mode (at high speed followed by the driver parameter).  Hex digits.
    const char* switchHead;
    const char* switchTailHigh;
    const char* switchTailLow;
    // The data of the 50 frame before the model code (two-byte variant).
    const char* prepareData;
    int blockSize;               // data bytes of a write frame
    uint8_t writeAnswer;         // the command byte of the chip's write acknowledge
    std::vector<StcClosingFrame> closing;
    // The model label; with `labelTakesModelByte` the model code's last byte
    // follows in decimal.
    const char* label;
    bool labelTakesModelByte;
    // The modern families: the protocols the chip type covers, told apart by
    // the status frame's model code ("stc15a stc15", "stc8 stc8d stc8g").
    const char* modernProtocols = "";
    bool modern() const { return switchVariant == StcSwitchVariant::Modern; }
};

// The rows, in the chip-type list's order of their entries.
const std::vector<StcFamily>& StcFamilies();
// The row named `key`; null when none.
const StcFamily* FindStcFamily(const char* key);

// Cuts an image into the blocks of a download: blocks of `blockSize` bytes
// from address 0, the last one padded with 00, then one block of zeros.
std::vector<QByteArray> StcBlocks(const QByteArray& image, int blockSize);

} // namespace talvo::protocol
