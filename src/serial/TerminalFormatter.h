#pragma once
// Turns the bytes a terminal receives into the text it shows, batch after
// batch, carrying its state across batches: a UTF-8 sequence or a CR LF pair
// split between two batches, the column of the current hexadecimal line.
//
// Text mode: UTF-8 (invalid bytes show as U+FFFD); CR, LF and CR LF end a
// line; other control characters show as their Unicode control pictures.
// Hexadecimal mode: "4F 4B " per byte, 16 bytes a line.  With time stamps
// every line starts with "[hh:mm:ss.zzz] ", the time its first byte arrived.

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QTime>

#include <vector>

namespace talvo {

// Received bytes with the times they arrived: each arrival's time holds from
// its offset to the next arrival's (offsets ascending; the first is 0 while
// there are bytes).  Arrivals within the same millisecond are one.
struct TimedBytes {
    struct Arrival {
        qsizetype offset;
        QTime at;
    };
    QByteArray bytes;
    std::vector<Arrival> arrivals;

    bool isEmpty() const { return bytes.isEmpty(); }
    qsizetype size() const { return bytes.size(); }
    void append(const char* data, qsizetype n, const QTime& at);
    void append(TimedBytes&& more);
    // The first `n` bytes with their times, taken out.
    TimedBytes takeFront(qsizetype n);
    // Forgets the first `n` bytes.
    void dropFront(qsizetype n) { (void)takeFront(n); }
};

class TerminalFormatter {
public:
    enum class Mode { Text, Hex };
    static constexpr int kHexPerLine = 16;

    void setMode(Mode mode);
    Mode mode() const { return CurrentMode; }
    void setTimestamps(bool on) { Timestamps = on; }
    bool timestamps() const { return Timestamps; }

    // The text to append for `bytes`, received at `at`.
    QString format(const QByteArray& bytes, const QTime& at);
    // The same for bytes that arrived at several times: a line's stamp is the
    // time its first byte arrived.
    QString format(const TimedBytes& received);
    // Forgets the state (the display was cleared).
    void reset();

    // Parses the send box in hexadecimal mode: pairs of digits, blanks and
    // commas between bytes allowed ("48 65 6c", "48,65,6C", "48656C").  On a
    // bad character or an odd digit count returns false with *error naming
    // the position.
    static bool parseHex(const QString& text, QByteArray* out, QString* error);

private:
    void startLine(QString& out, const QTime& at);

    Mode CurrentMode = Mode::Text;
    bool Timestamps = false;
    bool AtLineStart = true;
    bool LastWasCr = false;
    bool BreakPending = false; // the mode changed in mid-line
    int HexColumn = 0;
    QStringDecoder Decoder{QStringDecoder::Utf8};
};

} // namespace talvo
