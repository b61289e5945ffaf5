// Judging the newer STC bootloaders' answers (see the header).
#include "protocol/StcModernAnswers.h"

namespace talvo::protocol {

namespace {

uint8_t at(const QByteArray& p, int i) { return static_cast<uint8_t>(p.at(i)); }
QString hex(const QByteArray& b) { return QString::fromLatin1(b.toHex(' ').toUpper()); }

constexpr uint8_t kAck = 0x54;
constexpr int kUidBytes = 7;
// STC15A calibration: 65, T0..T6, FF FF 06, CNT, then CNT x (Th Tl 02 00).
constexpr int kStc15aCalibrationHead = 12;
constexpr int kStc15aChallengeBytes = 4;
// STC15A switch answer: 84, the request's bytes 1-11, one more byte.
constexpr int kStc15aSwitchBytes = 12;
// STC15A options answer: 50 + 40 bytes; trim at 4-5, option bytes at 10-22.
constexpr int kStc15aOptionsAnswer = 41;

QByteArray pair(uint8_t a, uint8_t b) {
    QByteArray r;
    r.append(static_cast<char>(a));
    r.append(static_cast<char>(b));
    return r;
}

StcModernAnswer bad(const QString& what, const QByteArray& answer) {
    StcModernAnswer a;
    a.why = QStringLiteral("%1 (answer %2)").arg(what, answer.isEmpty() ? QStringLiteral("empty") : hex(answer));
    return a;
}

StcModernAnswer good() {
    StcModernAnswer a;
    a.ok = true;
    return a;
}

// Exactly `want` (type byte and the rest).
StcModernAnswer exactly(const QByteArray& answer, const QByteArray& want) {
    if (answer == want) return good();
    return bad(QStringLiteral("expected %1").arg(hex(want)), answer);
}

StcModernAnswer uidAnswer(const QByteArray& answer, uint8_t type) {
    if (answer.size() != 1 + kUidBytes || at(answer, 0) != type)
        return bad(QStringLiteral("expected %1 and a 7-byte unique ID").arg(type, 2, 16, QLatin1Char('0')).toUpper(),
                   answer);
    StcModernAnswer a = good();
    a.uid = answer.mid(1);
    return a;
}

StcModernAnswer calibration(StcModernFamily family, const QByteArray& answer, const QByteArray& request) {
    StcModernAnswer a = good();
    if (family == StcModernFamily::Stc15a) {
        if (request.size() < kStc15aCalibrationHead || answer.size() != request.size() || at(answer, 0) != 0x65)
            return bad(QStringLiteral("expected type 65 and %1 bytes like the request").arg(request.size()), answer);
        const int n = at(request, kStc15aCalibrationHead - 1);
        if (request.size() != kStc15aCalibrationHead + kStc15aChallengeBytes * n)
            return bad(QStringLiteral("the request's %1 challenges do not fill it").arg(n), answer);
        for (int i = 0; i < request.size(); ++i) {
            const int inChallenge = (i - kStc15aCalibrationHead) % kStc15aChallengeBytes;
            if (i >= kStc15aCalibrationHead && inChallenge >= 2) continue; // the count
            if (answer.at(i) != request.at(i))
                return bad(QStringLiteral("byte %1 differs from the request's %2").arg(i).arg(at(request, i), 2, 16,
                                                                                            QLatin1Char('0')),
                           answer);
        }
        for (int k = 0; k < n; ++k) {
            const int o = kStc15aCalibrationHead + kStc15aChallengeBytes * k + 2;
            a.counts.push_back(static_cast<uint16_t>(at(answer, o) << 8 | at(answer, o + 1)));
        }
        return a;
    }
    if (request.size() < 2 || answer.size() != request.size() || at(answer, 0) != 0x00 || answer.at(1) != request.at(1))
        return bad(QStringLiteral("expected 00 %1 and %2 bytes like the request")
                       .arg(request.size() >= 2 ? at(request, 1) : 0, 2, 16, QLatin1Char('0'))
                       .arg(request.size()),
                   answer);
    const int n = at(request, 1);
    if ((request.size() - 2) % 2 != 0 || (request.size() - 2) / 2 < n)
        return bad(QStringLiteral("the request holds fewer than its %1 challenges").arg(n), answer);
    for (int k = 0; k < n; ++k) a.counts.push_back(static_cast<uint16_t>(at(answer, 2 + 2 * k) << 8 | at(answer, 3 + 2 * k)));
    return a;
}

uint8_t sum8(const QByteArray& b) {
    unsigned s = 0;
    for (char c : b) s += static_cast<uint8_t>(c);
    return static_cast<uint8_t>(s);
}

} // namespace

QByteArray StcModernWriteData(StcModernFamily family, const QByteArray& r) {
    if (family == StcModernFamily::Stc15a) return r.mid(7);
    const bool marker = r.size() >= 5 && at(r, 3) == 0x5A && at(r, 4) == 0xA5 && (r.size() - 5) % 64 == 0;
    return r.mid(marker ? 5 : 3);
}

StcModernAnswer ReadStcModernAnswer(StcModernFamily family, StcModernStep step, const QByteArray& answer,
                                    const QByteArray& request) {
    const bool a15 = family == StcModernFamily::Stc15a;
    switch (step) {
    case StcModernStep::Handshake:
        if (!a15) return bad(QStringLiteral("only the STC15A has a handshake step"), answer);
        return exactly(answer, QByteArray(1, char(0x8F)));
    case StcModernStep::Calibration:
        return calibration(family, answer, request);
    case StcModernStep::Switch:
        if (!a15) return exactly(answer, QByteArray(1, char(0x01)));
        if (answer.size() != kStc15aSwitchBytes + 1 || at(answer, 0) != 0x84 || request.size() < kStc15aSwitchBytes ||
            answer.mid(1, kStc15aSwitchBytes - 1) != request.mid(1, kStc15aSwitchBytes - 1))
            return bad(QStringLiteral("expected 84, the request's bytes %1 and one more byte")
                           .arg(hex(request.mid(1, kStc15aSwitchBytes - 1))),
                       answer);
        return good();
    case StcModernStep::Prepare:
        if (a15) return bad(QStringLiteral("the STC15A has no prepare step"), answer);
        if (answer == QByteArray(1, char(0x0F))) {
            StcModernAnswer a = bad(QStringLiteral("the chip is locked by a password"), answer);
            a.locked = true;
            return a;
        }
        return exactly(answer, QByteArray(1, char(0x05)));
    case StcModernStep::Erase:
        return uidAnswer(answer, a15 ? 0x00 : 0x03);
    case StcModernStep::Write:
        if (!a15) return exactly(answer, pair(0x02, kAck));
        return exactly(answer, pair(0x00, sum8(StcModernWriteData(family, request))));
    case StcModernStep::Finish:
        return exactly(answer, a15 ? QByteArray(1, char(0x8D)) : pair(0x07, kAck));
    case StcModernStep::Options: {
        if (!a15) return exactly(answer, pair(0x04, kAck));
        if (answer.size() != kStc15aOptionsAnswer || at(answer, 0) != 0x50)
            return bad(QStringLiteral("expected type 50 and 41 bytes"), answer);
        StcModernAnswer a = good();
        a.trim = static_cast<uint16_t>(at(answer, 4) << 8 | at(answer, 5));
        a.options = answer.mid(10, 13);
        return a;
    }
    }
    return bad(QStringLiteral("unknown step"), answer);
}

} // namespace talvo::protocol
