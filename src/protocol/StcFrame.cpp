#include "protocol/StcFrame.h"

#include <algorithm>

namespace talvo::protocol {

namespace {

unsigned sumOf(const QByteArray& bytes, int from, int to) {
    unsigned s = 0;
    for (int i = from; i < to; ++i) s += static_cast<uint8_t>(bytes[i]);
    return s;
}

QString hex(unsigned value, int digits) { return QString::asprintf("%0*x", digits, value); }

// The form-2 erase frame's data after its count bytes: twelve zero bytes and
// the run 80 7F .. 0E.
QByteArray eraseTail() {
    QByteArray t(12, '\0');
    for (int v = 0x80; v >= 0x0E; --v) t.append(static_cast<char>(v));
    return t;
}

} // namespace

// ---------------------------------------------------------------------------
// Frames from the host

uint16_t Checksum(const QByteArray& fromDirection, int form) {
    const unsigned sum = sumOf(fromDirection, 0, static_cast<int>(fromDirection.size()));
    return static_cast<uint16_t>(form == 2 ? sum & 0xFFFF : sum & 0xFF);
}

QByteArray BuildFrame(uint8_t command, const QByteArray& data, int form) {
    if (form != 1 && form != 2) return {};
    const int length = static_cast<int>(data.size()) + (form == 2 ? 7 : 6);
    QByteArray f;
    f.reserve(length + 2);
    f.append(static_cast<char>(kStcStart0));
    f.append(static_cast<char>(kStcStart1));
    f.append(static_cast<char>(kStcHostDir));
    f.append(static_cast<char>((length >> 8) & 0xFF));
    f.append(static_cast<char>(length & 0xFF));
    f.append(static_cast<char>(command));
    f.append(data);
    const uint16_t sum = Checksum(f.mid(2), form);
    if (form == 2) f.append(static_cast<char>(sum >> 8));
    f.append(static_cast<char>(sum & 0xFF));
    f.append(static_cast<char>(kStcEnd));
    return f;
}

QByteArray BuildWriteFrame(uint16_t address, const QByteArray& block, int form) {
    const auto length = static_cast<uint16_t>(block.size());
    QByteArray data;
    data.reserve(6 + block.size());
    data.append('\0').append('\0');
    data.append(static_cast<char>(address >> 8)).append(static_cast<char>(address & 0xFF));
    data.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    data.append(block);
    return BuildFrame(0x00, data, form);
}

QByteArray StcTwoByteEraseFrame(uint8_t pages) {
    QByteArray data;
    data.append(static_cast<char>(0xFF)).append('\0').append(static_cast<char>(pages));
    data.append('\0').append('\0').append(static_cast<char>(pages));
    data.append(eraseTail());
    return BuildFrame(0x84, data, 2);
}

uint8_t StcErasePages(int bytesWritten) {
    const int pages = 2 * ((std::max(bytesWritten, 0) + 511) / 512);
    return static_cast<uint8_t>(std::clamp(pages, 2, 0xFF));
}

// ---------------------------------------------------------------------------
// Frames from the chip

StcScan ScanStcFrames(const QByteArray& received, int form, bool statusForm) {
    StcScan scan;
    const int n = static_cast<int>(received.size());
    const int checkBytes = form == 2 ? 2 : 1;
    auto at = [&](int i) { return static_cast<uint8_t>(received[i]); };
    int i = 0;
    while (i < n) {
        // A frame starts at 46 B9 68, or (status form) at 68 00 with a length
        // that fits a chip frame.
        int dir = -1;
        bool withStart = false;
        if (at(i) == kStcStart0) {
            if (i + 1 >= n) {
                scan.partial = true;
                break;
            }
            if (at(i + 1) == kStcStart1) {
                if (i + 2 >= n) {
                    scan.partial = true;
                    break;
                }
                if (at(i + 2) == kStcChipDir) {
                    dir = i + 2;
                    withStart = true;
                }
            }
        } else if (statusForm && at(i) == kStcChipDir) {
            if (i + 1 >= n) {
                scan.partial = true;
                break;
            }
            if (at(i + 1) == 0x00) dir = i;
        }
        if (dir < 0) {
            ++i;
            continue;
        }
        if (dir + 2 >= n) {
            scan.partial = true;
            break;
        }
        const int length = (at(dir + 1) << 8) | at(dir + 2);
        const int minimum = 4 + checkBytes + 1; // dir, length, command, checksum, end
        if (length < minimum || length > kStcMaxChipFrame) {
            scan.rejected = QStringLiteral("length field %1 at byte %2 is no chip frame's").arg(length).arg(dir + 1);
            i = dir + 1;
            continue;
        }
        const int end = dir + length; // one past the end byte
        if (end > n) {
            scan.partial = true;
            i = dir + 1; // a later, complete frame may still be found inside (noise before it)
            continue;
        }
        const int endByte = end - 1;
        const int checksumAt = endByte - checkBytes;
        const unsigned sum = sumOf(received, dir, checksumAt);
        const unsigned got = form == 2 ? (static_cast<unsigned>(at(checksumAt)) << 8) | at(checksumAt + 1)
                                       : at(checksumAt);
        const unsigned want = form == 2 ? (sum & 0xFFFF) : (sum & 0xFF);
        if (at(endByte) != kStcEnd) {
            scan.rejected = QStringLiteral("end byte %1, expected 16").arg(hex(at(endByte), 2));
            i = dir + 1;
            continue;
        }
        if (got != want) {
            scan.rejected = QStringLiteral("checksum %1, expected %2").arg(hex(got, checkBytes * 2), hex(want, checkBytes * 2));
            i = dir + 1;
            continue;
        }
        StcChipFrame f;
        f.offset = withStart ? dir - 2 : dir;
        f.bytes = received.mid(f.offset, end - f.offset);
        f.payload = received.mid(dir + 3, checksumAt - (dir + 3));
        f.withStart = withStart;
        scan.frames.push_back(std::move(f));
        // Whatever partial frame was noted before this one is history.
        scan.partial = false;
        i = end;
    }
    return scan;
}

bool IsStcWriteAnswer(const StcChipFrame& frame, uint8_t answerCommand) {
    return frame.payload.size() == 2 && static_cast<uint8_t>(frame.payload[0]) == answerCommand;
}

std::optional<StcStatus> ReadStcStatus(const StcChipFrame& frame) {
    const QByteArray& p = frame.payload;
    // type, 16 count bytes, version, stepping, option, two model bytes
    if (p.size() < 22) return std::nullopt;
    auto at = [&](int i) { return static_cast<uint8_t>(p[i]); };
    StcStatus s;
    for (int k = 0; k < 8; ++k) s.counts.push_back(static_cast<uint16_t>((at(1 + 2 * k) << 8) | at(2 + 2 * k)));
    s.version = at(17);
    s.stepping = at(18);
    s.option = at(19);
    s.model[0] = at(20);
    s.model[1] = at(21);
    return s;
}

} // namespace talvo::protocol
