// Intel HEX converter.  A record is ":LLAAAATT<data>CC": length, 16-bit load
// offset, type, 2*LL data digits and a checksum that makes the sum of all
// record bytes 0 modulo 256.  Types: 0 data, 1 end of file, 2 extended segment
// address (offset = base*16 + address), 4 extended linear address (offset =
// linear address - the first linear base in the file, or 0 when data came
// before any linear record, so images above 64 KB lie flat), 5 start linear
// address (ignored).
// Type 3 (start segment address) is refused.
//
// Only the C and C++ runtimes are used here: `talvo hex2bin` runs this code
// in a process that loads nothing else.
#include "image/HexCore.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

// The converter's texts are marked for Qt's translation tools (context
// "HexCore"); the Qt side shows them in the reader's language.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace talvo::hexcore {

namespace {

// The texts the user sees for these faults.  The two open failures name the
// file and the reason after the text.
const char* const kMsgOpenSource = QT_TRANSLATE_NOOP("HexCore", "无法打开文件1: %1 (%2)\n");
const char* const kMsgOpenTarget = QT_TRANSLATE_NOOP("HexCore", "无法打开文件2: %1 (%2)\n");
const char* const kMsgNoStart = QT_TRANSLATE_NOOP("HexCore", "无法在%1文件中找到起始字符,异常退出\n");
const char* const kMsgLength = QT_TRANSLATE_NOOP("HexCore", "传入的hex长度错误,转换终止!\n");
const char* const kMsgAddrHigh = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件格式错误3,转换终止!\n");
const char* const kMsgAddrLow = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件格式错误4,转换终止!\n");
const char* const kMsgTypeDigits = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件格式错误5,转换终止!\n");
const char* const kMsgType = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件格式错误6,转换终止!\n");
const char* const kMsgData = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件格式错误7,转换终止!\n");
const char* const kMsgChecksumDigits = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件格式错误8,转换终止!\n");
const char* const kMsgChecksum = QT_TRANSLATE_NOOP("HexCore", "传入的hex文件校验和错误9,转换终止!\n");
const char* const kMsgWrite = QT_TRANSLATE_NOOP("HexCore", "写入到bin文件失败,异常退出\n");
const char* const kMsgSegmentRecord = QT_TRANSLATE_NOOP("HexCore", "扩展段地址记录数据格式出错,异常退出\n");
const char* const kMsgLinearRecord = QT_TRANSLATE_NOOP("HexCore", "扩展线性地址记录数据格式出错,异常退出\n");
// Checks this converter adds; they say what is wrong and where.
const char* const kMsgBelowLinearBase = QT_TRANSLATE_NOOP(
    "HexCore", "第%1行(第%2个记录): 数据地址0x%3低于文件中第一个扩展线性地址0x%4,无法放置,转换终止!\n");
const char* const kMsgTooLarge =
    QT_TRANSLATE_NOOP("HexCore", "第%1行(第%2个记录): 数据落在映像位置0x%3至0x%4,超出映像上限%5字节,转换终止!\n");
const char* const kMsgRead = QT_TRANSLATE_NOOP("HexCore", "读取文件%1失败: %2,转换终止!\n");
const char* const kMsgNoName = QT_TRANSLATE_NOOP("HexCore", "没有给出文件名");

// Puts args[N-1] in place of %N (N = 1..9), in one pass: a substituted
// text is never searched again, so a path holding "%2" stays as it is.
std::string fill(const char* pattern, const std::vector<MessageArg>& args) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '9' && static_cast<size_t>(p[1] - '1') < args.size()) {
            out += args[static_cast<size_t>(p[1] - '1')].text;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string number(int64_t v) { return std::to_string(v); }

// Upper-case hexadecimal, at least `width` digits.
std::string hex(uint64_t v, int width) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*llX", width, static_cast<unsigned long long>(v));
    return buf;
}

std::string systemReason(int error) { return std::strerror(error); }

// Digit values of the 256 byte values; -1 for non-digits.
constexpr std::array<int8_t, 256> makeDigitTable() {
    std::array<int8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = -1;
    for (int i = 0; i < 10; ++i)
        t['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
        t['A' + i] = static_cast<int8_t>(10 + i);
        t['a' + i] = static_cast<int8_t>(10 + i);
    }
    return t;
}
constexpr std::array<int8_t, 256> kDigit = makeDigitTable();

inline int digitValue(int c) { return c < 0 || c > 255 ? -1 : kDigit[static_cast<size_t>(c)]; }

// Two characters to a byte (the rules of PairToByte), inlined in the record loop.
inline Pair pairToByte(int first, int second) {
    const int a = digitValue(first);
    const int b = digitValue(second);
    if ((a | b) >= 0) [[likely]]
        return {static_cast<uint8_t>(16 * a + b), false};
    return {static_cast<uint8_t>(a < 0 ? 0 : 16 * a), true};
}

// Characters from memory.  get() returns -1 at the end, every time it is called.
class MemorySource {
public:
    MemorySource(const char* data, size_t size)
        : P(reinterpret_cast<const unsigned char*>(data)), End(P + size) {}
    int get() { return P < End ? *P++ : -1; }
    int peek() const { return P < End ? *P : -1; }
    // The next n characters when they are all at hand (nullptr otherwise);
    // skip(n) then consumes them.
    const unsigned char* window(size_t n) const { return size_t(End - P) >= n ? P : nullptr; }
    void skip(size_t n) { P += n; }
    bool failed() const { return false; }
    int error() const { return 0; }

private:
    const unsigned char* P;
    const unsigned char* End;
};

// Characters from a file descriptor, read in large blocks.
class FdSource {
public:
    explicit FdSource(int fd) : Fd(fd), Buffer(1 << 16) {}
    int get() {
        if (P == Len && !refill())
            return -1;
        return Buffer[P++];
    }
    int peek() {
        if (P == Len && !refill())
            return -1;
        return Buffer[P];
    }
    const unsigned char* window(size_t n) const { return Len - P >= n ? Buffer.data() + P : nullptr; }
    void skip(size_t n) { P += n; }
    bool failed() const { return Error != 0; }
    int error() const { return Error; }

private:
    bool refill() {
        if (AtEnd)
            return false;
        for (;;) {
            const ssize_t n = ::read(Fd, Buffer.data(), Buffer.size());
            if (n > 0) {
                P = 0;
                Len = static_cast<size_t>(n);
                return true;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                Error = errno;
            AtEnd = true;
            return false;
        }
    }
    int Fd;
    std::vector<unsigned char> Buffer;
    size_t P = 0;
    size_t Len = 0;
    bool AtEnd = false;
    int Error = 0;
};

// Text-mode reading: a CR directly followed by LF is read as the LF alone, so
// the character counts (the 254-character search for ':') are the same for
// files with CR LF and LF line ends.  A CR that is left (a file with CR-only
// line ends) ends a line as well.
template <class Source>
class TextReader {
public:
    explicit TextReader(Source& s) : S(s) {}
    int get() {
        int c = S.get();
        if (c == '\r' && S.peek() == '\n')
            c = S.get();
        return c;
    }
    // Reads n characters and returns them, either in place in the source's
    // buffer (when all are at hand and free of CR) or copied to `scratch`; the
    // end of the file reads as a NUL, which is no digit either.  `lines`
    // receives the number of line ends among them.
    const unsigned char* read(unsigned char* scratch, int n, int& lines) {
        const size_t len = static_cast<size_t>(n);
        const unsigned char* w = S.window(len);
        if (w && !std::memchr(w, '\r', len)) {
            S.skip(len);
            lines = std::memchr(w, '\n', len) ? static_cast<int>(std::count(w, w + len, '\n')) : 0;
            return w;
        }
        lines = 0;
        for (size_t i = 0; i < len; ++i) {
            const int c = get();
            scratch[i] = c < 0 ? 0 : static_cast<unsigned char>(c);
            lines += c == '\n' || c == '\r';
        }
        return scratch;
    }

private:
    Source& S;
};

// The image offsets that data records have written, as disjoint spans.
// Records usually follow each other upwards, so the common case extends the
// highest span in place; a record that lands on written bytes reports them.
class Coverage {
public:
    // Marks [begin, end) written; the parts written before go to `overlaps`
    // (as offsets), joined to the last range there when they continue it.
    void add(int64_t begin, int64_t end, std::vector<AddressRange>& overlaps) {
        if (Spans.empty() || Spans.rbegin()->second < begin) {
            Spans.emplace_hint(Spans.end(), begin, end);
            return;
        }
        if (Spans.rbegin()->second == begin) {
            Spans.rbegin()->second = end;
            return;
        }
        // The first span that ends after `begin`, and every later one that starts before `end`.
        auto it = Spans.upper_bound(begin);
        if (it != Spans.begin() && std::prev(it)->second >= begin)
            --it;
        int64_t from = begin;
        int64_t to = end;
        while (it != Spans.end() && it->first <= end) {
            const int64_t lo = std::max(begin, it->first);
            const int64_t hi = std::min(end, it->second);
            if (lo < hi)
                note(overlaps, lo, hi);
            from = std::min(from, it->first);
            to = std::max(to, it->second);
            it = Spans.erase(it);
        }
        Spans.emplace(from, to);
    }

private:
    static void note(std::vector<AddressRange>& overlaps, int64_t lo, int64_t hi) {
        const auto first = static_cast<uint64_t>(lo);
        const auto last = static_cast<uint64_t>(hi - 1);
        if (!overlaps.empty() && overlaps.back().last + 1 >= first && overlaps.back().first <= last + 1) {
            overlaps.back().first = std::min(overlaps.back().first, first);
            overlaps.back().last = std::max(overlaps.back().last, last);
            return;
        }
        overlaps.push_back({first, last});
    }
    std::map<int64_t, int64_t> Spans; // begin -> end (exclusive); neither overlapping nor touching
};

MessageArg value(std::string_view text) { return {std::string(text), false}; }

Result failure(Kind kind, const char* pattern, std::vector<MessageArg> args = {}, int line = 0, int record = 0) {
    Result r;
    r.kind = kind;
    r.message = fill(pattern, args);
    r.pattern = pattern;
    r.args = std::move(args);
    r.line = line;
    r.record = record;
    return r;
}

// The record loop.  Returns the image in r.image on success.  `textBytes` is
// the size of the HEX text when known: a record carries its data bytes in
// more than twice as many characters, so half of it is room for the usual
// image, and the image is not copied as it grows.
template <class Source>
Result parseHex(Source& source, std::string_view sourceName, uint64_t textBytes) {
    TextReader<Source> in(source);
    std::vector<uint8_t> image;
    image.reserve(static_cast<size_t>(std::min<uint64_t>(textBytes / 2, kMaxImageBytes)));
    uint16_t base = 0;
    int mode = 0;                  // 0 none yet, 1 end of file seen, 2 segment, 4 linear
    bool haveLinearBase = false;
    uint32_t firstLinearBase = 0;  // first extended linear base, or 0 once data came before any
    int line = 1;
    int record = 0;
    unsigned char scratch[8 + 2 * 255]; // address, type, data and checksum digits of one record
    uint8_t data[255];
    Coverage coverage;
    std::vector<AddressRange> overlaps; // as image offsets
    int64_t lowest = -1;                // lowest offset written (-1: none yet)
    bool sawLinear = false;

    const auto finish = [&]() {
        if (source.failed())
            return failure(Kind::IoError, kMsgRead, {value(sourceName), value(systemReason(source.error()))});
        Result r;
        r.image = std::move(image);
        r.linear = sawLinear;
        r.origin = firstLinearBase;
        if (!r.image.empty()) {
            r.lowest = r.origin + static_cast<uint64_t>(lowest);
            r.highest = r.origin + r.image.size() - 1;
        }
        for (AddressRange& o : overlaps)
            r.overlaps.push_back({r.origin + o.first, r.origin + o.last});
        return r;
    };
    // A read error shows as end-of-file characters; report it as what it is.
    const auto malformed = [&](const char* text, int recLine) {
        if (source.failed())
            return finish();
        return failure(Kind::Malformed, text, {}, recLine, record);
    };

    for (;;) {
        // Find the start character; 253 other characters may precede it.
        int misses = 0;
        for (;;) {
            const int c = in.get();
            if (c == ':')
                break;
            if (c == '\n' || c == '\r')
                ++line;
            if (++misses >= 254) {
                if (source.failed())
                    return finish();
                return failure(Kind::Malformed, kMsgNoStart, {value(sourceName)}, line, record + 1);
            }
        }
        ++record;
        const int recLine = line;

        const int l1 = in.get();
        const int l2 = in.get();
        const Pair len = pairToByte(l1, l2);
        if (len.error)
            return malformed(kMsgLength, recLine);
        const int length = len.byte;
        const int count = 8 + 2 * length;
        int recordLines = 0;
        const unsigned char* chars = in.read(scratch, count, recordLines);
        line += recordLines;

        const Pair hi = pairToByte(chars[0], chars[1]);
        if (hi.error)
            return malformed(kMsgAddrHigh, recLine);
        const Pair lo = pairToByte(chars[2], chars[3]);
        if (lo.error)
            return malformed(kMsgAddrLow, recLine);
        const Pair ty = pairToByte(chars[4], chars[5]);
        if (ty.error)
            return malformed(kMsgTypeDigits, recLine);
        const int type = ty.byte;
        if (type != 0 && type != 1 && type != 2 && type != 4 && type != 5)
            return malformed(kMsgType, recLine);
        unsigned sum = static_cast<unsigned>(length) + hi.byte + lo.byte + ty.byte;
        for (int i = 0; i < length; ++i) {
            const Pair d = pairToByte(chars[6 + 2 * i], chars[7 + 2 * i]);
            if (d.error)
                return malformed(kMsgData, recLine);
            data[i] = d.byte;
            sum += d.byte;
        }
        const Pair ck = pairToByte(chars[6 + 2 * length], chars[7 + 2 * length]);
        if (ck.error)
            return malformed(kMsgChecksumDigits, recLine);
        sum += ck.byte;
        if ((sum & 0xFF) != 0)
            return malformed(kMsgChecksum, recLine);

        const uint16_t address = static_cast<uint16_t>(hi.byte << 8 | lo.byte);
        switch (type) {
        case 0: {
            if (mode == 1)
                return finish(); // data after an end-of-file record with a length: silent end
            if (length == 0)
                break; // places nothing and does not extend the image
            // Data placed before any linear record lies at linear base 0; a
            // later base record must not fold its data back onto it.
            if (!haveLinearBase) {
                haveLinearBase = true;
                firstLinearBase = 0;
            }
            int64_t offset = address;
            if (mode == 2) {
                offset = int64_t(base) * 16 + address;
            } else if (mode == 4) {
                const int64_t linear = int64_t(base) << 16 | address;
                offset = linear - firstLinearBase;
                if (offset < 0)
                    return failure(Kind::Malformed, kMsgBelowLinearBase,
                                   {value(number(recLine)), value(number(record)), value(hex(uint64_t(linear), 8)),
                                    value(hex(firstLinearBase, 8))},
                                   recLine, record);
            }
            const int64_t end = offset + length;
            if (end > kMaxImageBytes)
                return failure(Kind::Malformed, kMsgTooLarge,
                               {value(number(recLine)), value(number(record)), value(hex(uint64_t(offset), 8)),
                                value(hex(uint64_t(end - 1), 8)), value(number(kMaxImageBytes))},
                               recLine, record);
            if (static_cast<size_t>(end) > image.size())
                image.resize(static_cast<size_t>(end));
            std::memcpy(image.data() + offset, data, static_cast<size_t>(length));
            coverage.add(offset, end, overlaps);
            if (lowest < 0 || offset < lowest)
                lowest = offset;
            break;
        }
        case 1:
            mode = 1;
            if (length == 0)
                return finish();
            break;
        case 2:
            if (length != 2 || address != 0)
                return malformed(kMsgSegmentRecord, recLine);
            base = static_cast<uint16_t>(data[0] << 8 | data[1]);
            mode = 2;
            break;
        case 4:
            if (length != 2 || address != 0)
                return malformed(kMsgLinearRecord, recLine);
            base = static_cast<uint16_t>(data[0] << 8 | data[1]);
            mode = 4;
            sawLinear = true;
            if (!haveLinearBase) {
                haveLinearBase = true;
                firstLinearBase = uint32_t(base) << 16;
            }
            break;
        default: // 5: start linear address, nothing to place
            break;
        }
    }
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

Result openFailure(const char* text, std::string_view path, const std::string& reason, bool ownReason) {
    return failure(Kind::IoError, text, {value(path), {reason, ownReason}});
}

} // namespace

Pair PairToByte(int first, int second) { return pairToByte(first, second); }

Result ParseBytes(const char* data, size_t size, std::string_view sourceName) {
    MemorySource source(data, size);
    return parseHex(source, sourceName, size);
}

Result ParseFd(int fd, std::string_view sourceName) {
    FdSource source(fd);
    struct stat st {};
    const uint64_t size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    return parseHex(source, sourceName, size);
}

std::string Where(const Result& r) {
    if (r.line <= 0)
        return {};
    return "line " + number(r.line) + ", record " + number(r.record);
}

const char* FileKindText(unsigned mode) {
    if (S_ISDIR(mode)) return QT_TRANSLATE_NOOP("HexCore", "这是文件夹,不是普通文件");
    if (S_ISCHR(mode)) return QT_TRANSLATE_NOOP("HexCore", "这是字符设备,不是普通文件");
    if (S_ISBLK(mode)) return QT_TRANSLATE_NOOP("HexCore", "这是块设备,不是普通文件");
    if (S_ISFIFO(mode)) return QT_TRANSLATE_NOOP("HexCore", "这是命名管道(FIFO),不是普通文件");
    if (S_ISSOCK(mode)) return QT_TRANSLATE_NOOP("HexCore", "这是套接字,不是普通文件");
    return QT_TRANSLATE_NOOP("HexCore", "不是普通文件");
}

int OpenRegularFile(const std::string& path, std::string* reason, bool* ownReason) {
    const auto fail = [reason, ownReason](std::string why, bool own) {
        if (reason) *reason = std::move(why);
        if (ownReason) *ownReason = own;
        return -1;
    };
    if (path.empty()) return fail(kMsgNoName, true);
    // Without O_NONBLOCK, opening a FIFO waits for a writer for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail(systemReason(errno), false);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return fail(systemReason(e), false);
    }
    // A device never ends (/dev/zero) and a pipe may never deliver: only
    // regular files are read.
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(FileKindText(st.st_mode), true);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int CreateExclusiveFile(const std::string& dir, const std::string& prefix, std::string& pathOut) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t v = 0;
        if (::getrandom(&v, sizeof v, 0) != static_cast<ssize_t>(sizeof v))
            return -1;
        char digits[17];
        std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(v));
        const std::string path = dir + '/' + prefix + digits + ".tmp";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            pathOut = path;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

Result ConvertFile(const std::string& sourcePath) {
    std::string reason;
    bool ownReason = false;
    const int fd = OpenRegularFile(sourcePath, &reason, &ownReason);
    if (fd < 0) return openFailure(kMsgOpenSource, sourcePath, reason, ownReason);
    Result r = ParseFd(fd, sourcePath);
    ::close(fd);
    return r;
}

Result Convert(const std::string& sourcePath, const std::string& targetPath) {
    std::string reason;
    bool ownReason = false;
    const int src = OpenRegularFile(sourcePath, &reason, &ownReason);
    if (src < 0) return openFailure(kMsgOpenSource, sourcePath, reason, ownReason);

    // Where the bytes go, decided before parsing (so the messages keep their
    // order) without touching an existing target:
    //  - no target yet: create it (and remove it again if parsing fails);
    //  - an existing regular file: write a new file next to it and rename it
    //    over the target at the end, so the target is replaced in one step
    //    (no half-written target, and no slow truncation of the old one);
    //  - anything else (a link, a device, a folder we cannot write beside):
    //    open it for writing and empty it only once the image is ready.
    const std::string& target = targetPath;
    enum class Way { Created, Sibling, InPlace } way = Way::InPlace;
    std::string sibling;
    int dst = -1;
    struct stat st {};
    int openError = ENOENT;
    if (!target.empty()) {
        dst = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        openError = errno;
        if (dst >= 0) {
            way = Way::Created;
        } else if (errno == EEXIST) {
            if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                const size_t slash = target.rfind('/');
                const std::string dir = slash == std::string::npos ? std::string(".")
                                        : slash == 0             ? std::string("/")
                                                                 : target.substr(0, slash);
                const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
                dst = CreateExclusiveFile(dir, '.' + name + '.', sibling);
                if (dst >= 0)
                    way = Way::Sibling;
            }
            if (dst < 0) {
                dst = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
                openError = errno;
            }
        }
    }
    if (dst >= 0 && way != Way::Sibling && (::fstat(dst, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(dst);
        dst = -1;
        openError = EISDIR;
    }
    if (dst < 0) {
        ::close(src);
        return openFailure(kMsgOpenTarget, targetPath, systemReason(openError), false);
    }
    const auto discard = [&] {
        ::close(dst);
        if (way == Way::Created)
            ::unlink(target.c_str());
        else if (way == Way::Sibling)
            ::unlink(sibling.c_str());
    };

    Result r = ParseFd(src, sourcePath);
    ::close(src);
    if (!r.ok()) {
        discard();
        return r;
    }
    bool written = true;
    if (way == Way::Sibling)
        written = ::fchmod(dst, st.st_mode & 07777) == 0;
    else if (way == Way::InPlace && S_ISREG(st.st_mode))
        written = ::ftruncate(dst, 0) == 0;
    written = written && writeAll(dst, r.image);
    if (!written) {
        discard();
        return failure(Kind::IoError, kMsgWrite);
    }
    if (::close(dst) != 0 || (way == Way::Sibling && ::rename(sibling.c_str(), target.c_str()) != 0)) {
        if (way == Way::Sibling)
            ::unlink(sibling.c_str());
        return failure(Kind::IoError, kMsgWrite);
    }
    return r;
}

} // namespace talvo::hexcore
