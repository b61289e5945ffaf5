#pragma once
// The captured conversations of real STC15A, STC15 and STC8 chips with a
// host (tests/protocol/captures/*.capture), read for the tests that replay
// them: the host's and the chip's frames in order, which of their bytes are
// fixed, which another host or chip may choose, which the capture lacks, and
// the capture's choices (rates, frequencies, sizes).  The file syntax is
// described at the top of stc15f104e.capture.

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace talvo::captures {

using Bytes = std::vector<uint8_t>;

enum class Mark : uint8_t {
    Fixed,   // the byte a chip (or host) of this kind sends
    Chosen,  // captured, but another host or chip may send another
    Unknown, // not in the capture
};

struct Step {
    enum class Kind { Frame, Payload, Pulses, Gap } kind = Kind::Gap;
    bool host = false;
    Bytes bytes;             // as written (Payload: the payload only; Unknown bytes are 00)
    std::vector<Mark> marks; // one per byte
    std::string text;        // Gap: what is missing
    int line = 0;

    bool fixed(size_t i) const { return marks[i] == Mark::Fixed; }
    // The whole frame (Payload: built around the payload, two checksum bytes;
    // the checksum is Chosen or Unknown when a payload byte is).
    Bytes frame(std::vector<Mark>* frameMarks = nullptr) const {
        if (kind != Kind::Payload) {
            if (frameMarks) *frameMarks = marks;
            return bytes;
        }
        const size_t len = bytes.size() + 6;
        Bytes f = {0x46, 0xB9, static_cast<uint8_t>(host ? 0x6A : 0x68), static_cast<uint8_t>(len >> 8),
                   static_cast<uint8_t>(len)};
        f.insert(f.end(), bytes.begin(), bytes.end());
        unsigned sum = 0;
        Mark worst = Mark::Fixed;
        for (size_t i = 2; i < f.size(); ++i) sum += f[i];
        for (Mark m : marks) worst = std::max(worst, m);
        f.push_back(static_cast<uint8_t>(sum >> 8));
        f.push_back(static_cast<uint8_t>(sum));
        f.push_back(0x16);
        if (frameMarks) {
            *frameMarks = std::vector<Mark>(5, Mark::Fixed);
            frameMarks->insert(frameMarks->end(), marks.begin(), marks.end());
            frameMarks->insert(frameMarks->end(), {worst, worst, Mark::Fixed});
        }
        return f;
    }
    // The payload of a frame step (Frame: between the length and the checksum).
    Bytes payload() const {
        if (kind == Kind::Payload || bytes.size() < 8) return bytes;
        return Bytes(bytes.begin() + 5, bytes.end() - 3);
    }
    std::vector<Mark> payloadMarks() const {
        if (kind == Kind::Payload || marks.size() < 8) return marks;
        return std::vector<Mark>(marks.begin() + 5, marks.end() - 3);
    }
};

struct Capture {
    std::string file;
    std::string model;  // the simulator that stands for the chip ("" = none)
    std::string family; // "stc15a", "stc15", "stc8"
    std::map<std::string, std::string> choices;
    std::vector<Step> steps;
    std::string error; // "" when the file was read

    double number(const std::string& key, double otherwise = 0) const {
        const auto it = choices.find(key);
        return it == choices.end() ? otherwise : QString::fromStdString(it->second).toDouble();
    }
};

inline QString capturesDir() { return QStringLiteral(TALVO_SOURCE_DIR "/tests/protocol/captures"); }

// One byte token: HH, HH?, ??, each optionally *N.
inline bool parseToken(const QString& token, Bytes* bytes, std::vector<Mark>* marks) {
    QString t = token;
    int repeat = 1;
    if (const int star = t.indexOf(u'*'); star >= 0) {
        bool ok = false;
        repeat = t.mid(star + 1).toInt(&ok);
        if (!ok || repeat < 1) return false;
        t = t.left(star);
    }
    Mark mark = Mark::Fixed;
    uint8_t value = 0;
    if (t == QLatin1String("??")) {
        mark = Mark::Unknown;
    } else {
        if (t.endsWith(u'?')) {
            mark = Mark::Chosen;
            t.chop(1);
        }
        bool ok = false;
        const uint v = t.toUInt(&ok, 16);
        if (!ok || t.size() != 2) return false;
        value = static_cast<uint8_t>(v);
    }
    bytes->insert(bytes->end(), static_cast<size_t>(repeat), value);
    marks->insert(marks->end(), static_cast<size_t>(repeat), mark);
    return true;
}

inline Capture readCapture(const QString& path) {
    Capture c;
    c.file = QFileInfo(path).fileName().toStdString();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        c.error = "cannot read " + path.toStdString();
        return c;
    }
    int lineNo = 0;
    while (!f.atEnd()) {
        ++lineNo;
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        QStringList w = line.split(u' ', Qt::SkipEmptyParts);
        const QString head = w.takeFirst();
        auto fail = [&](const char* why) {
            c.error = c.file + ":" + std::to_string(lineNo) + ": " + why;
            return c;
        };
        if (head == QLatin1String("model") && w.size() == 1) {
            c.model = w[0].toStdString();
        } else if (head == QLatin1String("family") && w.size() == 1) {
            c.family = w[0].toStdString();
        } else if (head == QLatin1String("choice") && w.size() == 2) {
            c.choices[w[0].toStdString()] = w[1].toStdString();
        } else if (head == QLatin1String("gap")) {
            Step s;
            s.text = w.join(u' ').toStdString();
            s.line = lineNo;
            c.steps.push_back(s);
        } else if ((head == QLatin1String("host") || head == QLatin1String("chip")) && w.size() >= 2) {
            Step s;
            s.host = head == QLatin1String("host");
            s.line = lineNo;
            const QString kind = w.takeFirst();
            if (kind == QLatin1String("frame"))
                s.kind = Step::Kind::Frame;
            else if (kind == QLatin1String("payload"))
                s.kind = Step::Kind::Payload;
            else if (kind == QLatin1String("pulses"))
                s.kind = Step::Kind::Pulses;
            else
                return fail("expected frame, payload or pulses");
            for (const QString& t : w)
                if (!parseToken(t, &s.bytes, &s.marks)) return fail("bad byte");
            c.steps.push_back(s);
        } else {
            return fail("unknown line");
        }
    }
    return c;
}

inline std::vector<Capture> allCaptures() {
    std::vector<Capture> all;
    const QDir dir(capturesDir());
    for (const QString& name : dir.entryList({QStringLiteral("*.capture")}, QDir::Files, QDir::Name))
        all.push_back(readCapture(dir.filePath(name)));
    return all;
}

inline Capture captureNamed(const std::string& file) {
    return readCapture(capturesDir() + QLatin1Char('/') + QString::fromStdString(file));
}

} // namespace talvo::captures
