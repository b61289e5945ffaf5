#include "serial/TerminalFormatter.h"

#include <QCoreApplication>

#include <algorithm>

namespace talvo {

void TimedBytes::append(const char* data, qsizetype n, const QTime& at) {
    if (n <= 0) return;
    if (arrivals.empty() || arrivals.back().at != at) arrivals.push_back({bytes.size(), at});
    bytes.append(data, n);
}

void TimedBytes::append(TimedBytes&& more) {
    for (size_t i = 0; i < more.arrivals.size(); ++i) {
        const qsizetype from = more.arrivals[i].offset;
        const qsizetype to = i + 1 < more.arrivals.size() ? more.arrivals[i + 1].offset : more.bytes.size();
        append(more.bytes.constData() + from, to - from, more.arrivals[i].at);
    }
    more = {};
}

TimedBytes TimedBytes::takeFront(qsizetype n) {
    n = std::clamp<qsizetype>(n, 0, bytes.size());
    TimedBytes front;
    front.bytes = bytes.left(n);
    bytes.remove(0, n);
    // The arrivals that begin within the front go with it; the one running
    // across the cut starts the rest at offset 0.
    size_t split = 0;
    while (split < arrivals.size() && arrivals[split].offset < n) ++split;
    front.arrivals.assign(arrivals.begin(), arrivals.begin() + static_cast<std::ptrdiff_t>(split));
    std::vector<Arrival> rest;
    if (!bytes.isEmpty()) {
        if ((split == arrivals.size() || arrivals[split].offset > n) && split > 0)
            rest.push_back({0, arrivals[split - 1].at});
        for (size_t i = split; i < arrivals.size(); ++i) rest.push_back({arrivals[i].offset - n, arrivals[i].at});
    }
    arrivals = std::move(rest);
    if (front.bytes.isEmpty()) front.arrivals.clear();
    return front;
}

void TerminalFormatter::setMode(Mode mode) {
    if (mode == CurrentMode) return;
    CurrentMode = mode;
    // The next bytes start a line of their own; a half-decoded sequence is
    // dropped with the mode it belonged to.
    HexColumn = 0;
    LastWasCr = false;
    Decoder.resetState();
    BreakPending = !AtLineStart;
}

void TerminalFormatter::reset() {
    BreakPending = false;
    AtLineStart = true;
    LastWasCr = false;
    HexColumn = 0;
    Decoder.resetState();
}

void TerminalFormatter::startLine(QString& out, const QTime& at) {
    if (Timestamps) out += QLatin1Char('[') + at.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("] ");
    AtLineStart = false;
}

QString TerminalFormatter::format(const QByteArray& bytes, const QTime& at) {
    QString out;
    if (BreakPending && !bytes.isEmpty()) {
        out += QLatin1Char('\n');
        AtLineStart = true;
        BreakPending = false;
    }
    if (CurrentMode == Mode::Hex) {
        out.reserve(bytes.size() * 3 + (bytes.size() / kHexPerLine + 1) * (Timestamps ? 16 : 1));
        static const char digits[] = "0123456789ABCDEF";
        for (const char c : bytes) {
            if (HexColumn == 0 && !AtLineStart) {
                out += QLatin1Char('\n');
                AtLineStart = true;
            }
            if (HexColumn == 0) startLine(out, at);
            const auto b = static_cast<uint8_t>(c);
            out += QLatin1Char(digits[b >> 4]);
            out += QLatin1Char(digits[b & 15]);
            out += QLatin1Char(' ');
            if (++HexColumn == kHexPerLine) {
                HexColumn = 0;
                AtLineStart = false;
            }
        }
        return out;
    }

    const QString text = Decoder.decode(bytes);
    out.reserve(text.size() + 16);
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == u'\n' && LastWasCr) {
            LastWasCr = false;
            continue;
        }
        LastWasCr = u == u'\r';
        if (AtLineStart) startLine(out, at);
        if (u == u'\r' || u == u'\n') {
            out += QLatin1Char('\n');
            AtLineStart = true;
        } else if ((u < 0x20 && u != u'\t') || u == 0x7F) {
            out += QChar(u == 0x7F ? char16_t(0x2421) : char16_t(0x2400 + u));
        } else {
            out += ch;
        }
    }
    return out;
}

QString TerminalFormatter::format(const TimedBytes& received) {
    QString out;
    for (size_t i = 0; i < received.arrivals.size(); ++i) {
        const qsizetype from = received.arrivals[i].offset;
        const qsizetype to = i + 1 < received.arrivals.size() ? received.arrivals[i + 1].offset : received.size();
        out += format(received.bytes.mid(from, to - from), received.arrivals[i].at);
    }
    return out;
}

bool TerminalFormatter::parseHex(const QString& text, QByteArray* out, QString* error) {
    QByteArray bytes;
    int high = -1;
    int highPos = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.isSpace() || ch == u',') {
            if (high >= 0) {
                if (error) *error = QCoreApplication::translate("TerminalFormatter", "第 %1 个字符处只有一位十六进制数字").arg(highPos + 1);
                return false;
            }
            continue;
        }
        const int v = ch.isDigit() ? ch.digitValue()
                      : (ch.toLower() >= u'a' && ch.toLower() <= u'f') ? ch.toLower().unicode() - u'a' + 10
                                                                         : -1;
        if (v < 0 || ch.unicode() > 0x7F) {
            if (error) *error = QCoreApplication::translate("TerminalFormatter", "第 %1 个字符“%2”不是十六进制数字").arg(i + 1).arg(ch);
            return false;
        }
        if (high < 0) {
            high = v;
            highPos = i;
        } else {
            bytes.append(static_cast<char>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) {
        if (error) *error = QCoreApplication::translate("TerminalFormatter", "第 %1 个字符处只有一位十六进制数字").arg(highPos + 1);
        return false;
    }
    *out = bytes;
    return true;
}

} // namespace talvo
