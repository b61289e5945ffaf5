#pragma once
// The Intel HEX converter's core, free of Qt: record parsing, the checks and
// their messages, reading regular files only, and writing the image.  The
// window and the libraries reach it through HexToBin (which adds QString and
// QByteArray faces); `talvo hex2bin` calls it directly, so converting a file
// from the command line loads nothing but the C and C++ runtimes.
//
// Paths, names and messages are UTF-8 byte strings; messages are the texts
// the user sees, exactly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::hexcore {

enum class Kind {
    Ok,        // converted (an early silent stop of the format counts as success)
    IoError,   // a file could not be opened, created, read or written
    Malformed, // the input is not usable Intel HEX
};

// Addresses first to last, both included.
struct AddressRange {
    uint64_t first = 0;
    uint64_t last = 0;
};

// One value put into a message: a text of the converter's own (`own`: one
// of its marked texts, such as why a path is no regular file) or a value
// (a path, a number, the system's reason).
struct MessageArg {
    std::string text;
    bool own = false;
};

struct Result {
    Kind kind = Kind::Ok;
    std::string message;       // the text to show ("" when Ok)
    // The message as its pattern (one of the converter's texts, marked for
    // Qt's translation tools in the context "HexCore"; null when Ok) and the
    // values for its %1, %2, ...: a front end that has translations shows it
    // in the reader's language.
    const char* pattern = nullptr;
    std::vector<MessageArg> args;
    int line = 0;              // 1-based line of the offending record (0 = not tied to a record)
    int record = 0;            // 1-based number of the offending record (0 = none)
    std::vector<uint8_t> image; // the converted bytes (parsing and ConvertFile, when Ok)

    // Where the image lies, in the file's addresses.  With an extended linear
    // address record (`linear`) they are the chip's 32-bit addresses and
    // `origin`, the address of image[0], is the first linear base; without
    // one the file gives offsets only and `origin` is 0.
    bool linear = false;
    uint64_t origin = 0;
    // The lowest and highest address a data record covers (0 and 0 for an
    // empty image); image bytes outside them are the 0x00 fill.
    uint64_t lowest = 0;
    uint64_t highest = 0;
    // Addresses that a later data record wrote again (the later one wins),
    // merged into ranges, in the order they were found.
    std::vector<AddressRange> overlaps;

    bool ok() const { return kind == Kind::Ok; }
};

struct Pair {
    uint8_t byte = 0;
    bool error = false;
};

// The largest image the converter builds (see HexToBin::kMaxImageBytes).
constexpr int64_t kMaxImageBytes = 16 * 1024 * 1024;

// Two characters to one byte: 0-9, A-F and a-f are digits; -1 (end of file)
// is none.  Bad first digit: byte 0, error.  Bad second digit only: byte is
// 16 * first, error.
Pair PairToByte(int first, int second);

// Parses HEX text held in memory / read from an open descriptor.
// `sourceName` names the input in the message about a missing start character.
Result ParseBytes(const char* data, size_t size, std::string_view sourceName);
Result ParseFd(int fd, std::string_view sourceName);

// Opens a regular file for reading (never blocking on a FIFO, refusing
// devices, pipes, sockets and folders); -1 with *reason set otherwise
// (*ownReason: whether it is one of the converter's texts rather than the
// system's words).
int OpenRegularFile(const std::string& path, std::string* reason, bool* ownReason = nullptr);
// What a st_mode that is not a regular file is, in the user's words.
const char* FileKindText(unsigned mode);

// Creates `dir`/`prefix`<16 random hex digits>.tmp exclusively (mode 0600,
// never following a link); its descriptor, or -1 with errno set.
int CreateExclusiveFile(const std::string& dir, const std::string& prefix, std::string& pathOut);

// Reads and converts a HEX file; the image is in the result.
Result ConvertFile(const std::string& sourcePath);
// Converts `sourcePath` into the binary file `targetPath`: the target is
// checked for writing before the source is parsed, and replaced only when the
// conversion succeeds (see HexToBin::Convert).  The image is not kept in the result.
Result Convert(const std::string& sourcePath, const std::string& targetPath);

// "line 12, record 7" for a result tied to a record, "" otherwise.
std::string Where(const Result& r);

} // namespace talvo::hexcore
