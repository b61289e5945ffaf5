// HexToBin: the Qt face of the converter core (image/HexCore), which holds
// the record rules, the checks in their order and every message.
#include "image/HexToBin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "image/HexCore.h"

namespace talvo {

namespace {

std::string encoded(const QString& path) { return QFile::encodeName(path).toStdString(); }

// One of the converter's own texts in the reader's language.
QString ownText(const std::string& text) { return QCoreApplication::translate("HexCore", text.c_str()); }

HexResult fromCore(hexcore::Result&& c) {
    HexResult r;
    r.kind = c.kind == hexcore::Kind::Ok        ? HexResult::Kind::Ok
             : c.kind == hexcore::Kind::IoError ? HexResult::Kind::IoError
                                                : HexResult::Kind::Malformed;
    r.message = HexToBin::MessageText(c);
    r.line = c.line;
    r.record = c.record;
    if (!c.image.empty())
        r.image = QByteArray(reinterpret_cast<const char*>(c.image.data()), static_cast<qsizetype>(c.image.size()));
    r.linear = c.linear;
    r.origin = c.origin;
    r.lowest = c.lowest;
    r.highest = c.highest;
    for (const hexcore::AddressRange& o : c.overlaps)
        r.overlaps.push_back({o.first, o.last});
    return r;
}

} // namespace

static_assert(HexToBin::kMaxImageBytes == hexcore::kMaxImageBytes);

QString HexResult::where() const {
    if (line <= 0)
        return {};
    return QStringLiteral("line %1, record %2").arg(line).arg(record);
}

HexPair HexToBin::HexPairToByte(int first, int second) {
    const hexcore::Pair p = hexcore::PairToByte(first, second);
    return {p.byte, p.error};
}

HexResult HexToBin::ConvertBytes(const char* data, size_t size, const QString& sourceName) {
    return fromCore(hexcore::ParseBytes(data, size, sourceName.toStdString()));
}

QString HexToBin::FileKindText(unsigned mode) { return ownText(hexcore::FileKindText(mode)); }

QString HexToBin::MessageText(const hexcore::Result& c) {
    if (!c.pattern) return QString::fromStdString(c.message);
    // %1..%9 replaced in one pass: a value holding "%2" stays as it is.
    const QString pattern = ownText(c.pattern);
    QString text;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const qsizetype n = i + 1 < pattern.size() ? pattern[i + 1].unicode() - u'1' : -1;
        if (pattern[i] == u'%' && n >= 0 && n < 9 && static_cast<size_t>(n) < c.args.size()) {
            const hexcore::MessageArg& a = c.args[static_cast<size_t>(n)];
            text += a.own ? ownText(a.text) : QString::fromStdString(a.text);
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

int HexToBin::OpenRegularFile(const QString& path, QString* reason) {
    std::string why;
    bool own = false;
    const int fd = hexcore::OpenRegularFile(encoded(path), &why, &own);
    if (fd < 0 && reason) *reason = own ? ownText(why) : QString::fromStdString(why);
    return fd;
}

HexResult HexToBin::ConvertFile(const QString& sourcePath) {
    return fromCore(hexcore::ConvertFile(encoded(sourcePath)));
}

HexResult HexToBin::Convert(const QString& sourcePath, const QString& targetPath) {
    return fromCore(hexcore::Convert(encoded(sourcePath), encoded(targetPath)));
}

} // namespace talvo
