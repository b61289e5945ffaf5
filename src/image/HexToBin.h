#pragma once
// Intel HEX to flat binary: the byte at offset N of the result is the byte the
// HEX file places at address N; bytes no record covers read as 0x00.
//
// The converter never ends the process and never shows anything itself: every
// conversion returns a HexResult that carries the one message to show (the
// window's own texts) and its category, and the caller decides
// how to present it (message box in the window, standard error and exit code 3
// in `talvo hex2bin`).
//
// The record rules, the checks, their order and the messages live in the
// Qt-free core image/HexCore; this class gives them QString and QByteArray
// faces, so the window, the libraries and `talvo hex2bin` convert alike.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvo {

namespace hexcore {
struct Result;
}

// Addresses first to last, both included.
struct AddressRange {
    quint64 first = 0;
    quint64 last = 0;
};

struct HexResult {
    enum class Kind {
        Ok,        // converted (an early silent stop of the format counts as success)
        IoError,   // a file could not be opened, created, read or written
        Malformed, // the input is not usable Intel HEX
    };
    Kind kind = Kind::Ok;
    QString message;   // the text to show, exactly as the user sees it ("" when Ok)
    int line = 0;      // 1-based line of the offending record (0 = not tied to a record)
    int record = 0;    // 1-based number of the offending record (0 = none)
    QByteArray image;  // the converted bytes (filled by ConvertFile/ConvertBytes when Ok)
    // Where the image lies in the file's addresses (see hexcore::Result): an
    // extended linear address record makes them absolute (`linear`), with
    // `origin` the address of image[0]; the lowest and highest address data
    // records cover; the ranges a later record wrote again.
    bool linear = false;
    quint64 origin = 0;
    quint64 lowest = 0;
    quint64 highest = 0;
    std::vector<AddressRange> overlaps;

    bool ok() const { return kind == Kind::Ok; }
    // Exit code of `talvo hex2bin`: 0 ok, 1 I/O failure, 3 malformed HEX.
    int exitCode() const { return kind == Kind::Ok ? 0 : kind == Kind::IoError ? 1 : 3; }
    // "line 12, record 7" style location for diagnostics, "" when none.
    QString where() const;
};

struct HexPair {
    uint8_t byte = 0;
    bool error = false;
};

class HexToBin {
public:
    // The largest image the converter builds.  The format allows offsets up to
    // 0xFFFF*16+0xFFFF (segments) and, with linear records, gigabytes; no chip
    // served here holds more than a few hundred kilobytes, so anything beyond
    // this is refused instead of allocated.
    static constexpr int64_t kMaxImageBytes = 16 * 1024 * 1024;

    // Two characters to one byte.  A character is a digit if it is 0-9, A-F or
    // a-f.  Bad first digit: byte 0, error.  Bad second digit only: byte is
    // 16 * first, error.  Characters are bytes of the file; -1 stands for the
    // end of the file and is never a digit.
    static HexPair HexPairToByte(int first, int second);

    // Parses HEX text held in memory.  `sourceName` is the name used in the
    // message about a missing start character.
    static HexResult ConvertBytes(const char* data, size_t size, const QString& sourceName);
    static HexResult ConvertBytes(const QByteArray& text, const QString& sourceName) {
        return ConvertBytes(text.constData(), static_cast<size_t>(text.size()), sourceName);
    }

    // Reads and converts a HEX file; the image is returned in the result.
    static HexResult ConvertFile(const QString& sourcePath);

    // Converts `sourcePath` into the binary file `targetPath`.  The target is
    // checked for writing before the source is parsed (so the messages keep
    // their order), but it is only replaced when the conversion succeeds: a
    // malformed file leaves an existing target as it was, and a target this
    // call created is removed again.  An existing regular target is replaced
    // by renaming a finished file over it (keeping its permissions).
    HexResult Convert(const QString& sourcePath, const QString& targetPath);

    // Opens a regular file for reading and returns its descriptor, or -1
    // with *reason set (the system's reason, or what kind of file it is).
    // Devices, pipes, sockets and folders are refused without blocking: a
    // character device never ends and a FIFO may never deliver.
    static int OpenRegularFile(const QString& path, QString* reason);
    // "这是字符设备,不是普通文件" and the like, for a st_mode that is not a regular file.
    static QString FileKindText(unsigned mode);
    // The core's message in the reader's language: its pattern translated,
    // then its values put in (the converter's own among them translated too).
    static QString MessageText(const hexcore::Result& result);
};

} // namespace talvo
