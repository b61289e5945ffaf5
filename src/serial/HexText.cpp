#include "serial/HexText.h"

namespace talvo {

namespace {

bool isBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

} // namespace

uint8_t hexGroupValue(QStringView group) {
    qsizetype i = 0;
    const qsizetype n = group.size();
    while (i < n && isBlank(group[i].unicode())) ++i;
    bool negative = false;
    if (i < n && (group[i] == u'+' || group[i] == u'-')) {
        negative = group[i] == u'-';
        ++i;
    }
    // An optional "0x" prefix counts only when a hex digit follows it; in a
    // group of two characters it never does, and "0x" reads as 0.
    if (i + 2 < n && group[i] == u'0' && (group[i + 1] == u'x' || group[i + 1] == u'X') &&
        hexDigit(group[i + 2].unicode()) >= 0)
        i += 2;
    long value = 0;
    for (; i < n; ++i) {
        const int d = hexDigit(group[i].unicode());
        if (d < 0) break;
        value = value * 16 + d;
    }
    if (negative) value = -value;
    return static_cast<uint8_t>(static_cast<unsigned long>(value) & 0xffu);
}

QByteArray hexTextToBytes(QStringView text) {
    const qsizetype count = text.size() / 2;
    QByteArray bytes(count, '\0');
    for (qsizetype k = 0; k < count; ++k)
        bytes[k] = static_cast<char>(hexGroupValue(text.mid(2 * k, 2)));
    return bytes;
}

} // namespace talvo
