#pragma once
// The firmware image between the file and the protocols: reading a firmware
// file into bytes, where those bytes go, and the limits of what each
// bootloader family can carry.  The protocols cut the bytes into their own
// blocks.

#include <QByteArray>
#include <QString>

#include <vector>

#include "image/HexToBin.h"

namespace talvo {

// Which bootloader's block size and limits apply (the chip-type table of the
// protocol library says which for each list entry).
enum class ChipFamily { Stm32, Stc };

inline constexpr int kStcBlockBytes = 128;
inline constexpr int kStm32BlockBytes = 256;
// STC: every block, the closing zero block included, goes to a 16-bit address
// that grows by 128.  The zero block of an image of B blocks goes to B*128,
// which must be at most 0xFF80: B <= 511, the last data block at 0xFF00.  An
// image of 65,409 to 65,536 bytes has 512 blocks, and its zero block's address
// 0x10000 does not fit (cut to 16 bits it would be 0x0000: zeros written over
// the first block).
inline constexpr int kStcMaxImageBytes = 0x10000 - kStcBlockBytes;          // 65,408
// STM32: at most 1023 blocks of 256 bytes.
inline constexpr int kStm32MaxImageBytes = 1023 * kStm32BlockBytes; // 261,888
// STM32: where the flash starts, and how far it reaches on the largest part
// served (the F1 XL-density lines: 1 MB).  The chip's own size is known only
// once its bootloader has been asked.
inline constexpr quint32 kStm32FlashStart = 0x08000000;
inline constexpr quint32 kStm32FlashAreaBytes = 1024 * 1024;

// "" when the family's protocol can carry an image of `size` bytes; otherwise
// the message that says why not.
QString CheckImageSize(qint64 size, ChipFamily family);

// True for names ending in ".bin" in any case: such files hold the image as
// it is (byte N at address N).
bool IsRawBinaryName(const QString& path);

struct LoadedImage {
    bool ok = false;
    QByteArray bytes;         // the flat image: byte N lies at `origin` + N
    QString message;          // the message to show when !ok
    HexResult::Kind kind = HexResult::Kind::Ok;
    int line = 0;             // where a malformed HEX file went wrong (0 = not tied to a record)
    int record = 0;
    // Where the bytes lie (see HexResult).  `linear`: a HEX file with an
    // extended linear address record, whose addresses are the chip's; a .bin
    // and a HEX file without one give offsets only (`origin` 0).  `lowest` and
    // `highest` bound what data records cover (a .bin covers all its bytes).
    bool linear = false;
    quint64 origin = 0;
    quint64 lowest = 0;
    quint64 highest = 0;
    std::vector<AddressRange> overlaps; // addresses a later HEX record wrote again
};

// Reads a firmware file: ".bin" files as they are, everything else through
// the HEX converter, straight into memory.
// Files larger than HexToBin::kMaxImageBytes are refused, and so is a ".bin"
// whose content is Intel HEX text (it would be programmed as characters).
LoadedImage ReadFirmwareFile(const QString& path);

// True when `bytes` is Intel HEX text: it starts (after white space) with a
// record's ':' and holds nothing but record characters and line ends.
bool LooksLikeIntelHexText(const QByteArray& bytes);

// The log line that names the addresses overlapping HEX records wrote twice
// (the later record wins), or "" when none did.
QString OverlapLogLine(const LoadedImage& image);

// The image as a family's download takes it.
struct ChipImage {
    QByteArray bytes;
    quint32 address = 0;  // where bytes[0] goes
    QString message;      // why it cannot be downloaded ("" when it can)
    bool ok() const { return message.isEmpty(); }
};

// STC: the flat image from address 0.  STM32: what data records cover, from
// the lowest covered address to the highest (gaps keep their 0x00 fill), at
// the file's own addresses -- or, for an image without addresses (a .bin, a
// HEX without an extended linear address record), with its offset 0 at
// `unplacedAt`.  Refused: an empty image, one larger than the family's
// protocol carries, and on STM32 one that does not lie within the flash area.
ChipImage PrepareChipImage(const LoadedImage& image, ChipFamily family, quint32 unplacedAt = kStm32FlashStart);

} // namespace talvo
