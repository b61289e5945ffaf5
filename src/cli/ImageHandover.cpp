#include "cli/ImageHandover.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace talvo::cli {

namespace {

const QString kSource = QStringLiteral("source");
const QString kSize = QStringLiteral("size");
const QString kCrc32 = QStringLiteral("crc32");
const QString kLinear = QStringLiteral("linear");
const QString kOrigin = QStringLiteral("origin");
const QString kLowest = QStringLiteral("lowest");
const QString kHighest = QStringLiteral("highest");
const QString kOverlaps = QStringLiteral("overlaps");

std::array<uint32_t, 256> crcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

} // namespace

uint32_t Crc32(const QByteArray& bytes) {
    static const std::array<uint32_t, 256> table = crcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (char b : bytes) c = table[(c ^ static_cast<uint8_t>(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QString Crc32Text(uint32_t crc) { return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')); }

QByteArray EncodeHandedImage(const LoadedImage& image, const QString& source) {
    QJsonArray overlaps;
    for (const AddressRange& r : image.overlaps) overlaps.append(QJsonArray{double(r.first), double(r.last)});
    const QJsonObject head{{kSource, source},
                           {kSize, double(image.bytes.size())},
                           {kCrc32, Crc32Text(Crc32(image.bytes))},
                           {kLinear, image.linear},
                           {kOrigin, double(image.origin)},
                           {kLowest, double(image.lowest)},
                           {kHighest, double(image.highest)},
                           {kOverlaps, overlaps}};
    return QJsonDocument(head).toJson(QJsonDocument::Compact) + '\n' + image.bytes;
}

std::optional<HandedImage> DecodeHandedImage(const QByteArray& data, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error) *error = why;
        return std::nullopt;
    };
    const qsizetype newline = data.indexOf('\n');
    if (newline < 0) return fail(QStringLiteral("no image came (%1 bytes without a heading line)").arg(data.size()));
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(data.left(newline), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("the image's heading is not a JSON object (%1)").arg(parseError.errorString()));
    const QJsonObject head = doc.object();
    const double size = head.value(kSize).toDouble(-1);
    const QString crc = head.value(kCrc32).toString();
    if (!head.value(kSource).isString() || size < 0 || size != qint64(size) || crc.size() != 8)
        return fail(QStringLiteral("the image's heading lacks its source, size or CRC-32"));
    HandedImage handed;
    handed.source = head.value(kSource).toString();
    handed.image.bytes = data.mid(newline + 1);
    if (handed.image.bytes.size() != qint64(size))
        return fail(QStringLiteral("%1 image bytes came, the heading announced %2")
                        .arg(handed.image.bytes.size())
                        .arg(qint64(size)));
    if (Crc32Text(Crc32(handed.image.bytes)) != crc)
        return fail(QStringLiteral("the image's CRC-32 is %1, the heading announced %2")
                        .arg(Crc32Text(Crc32(handed.image.bytes)), crc));
    // Where the bytes lie: addresses below 2^53 travel exactly as JSON numbers.
    handed.image.linear = head.value(kLinear).toBool();
    handed.image.origin = static_cast<quint64>(head.value(kOrigin).toDouble());
    handed.image.lowest = static_cast<quint64>(head.value(kLowest).toDouble());
    handed.image.highest = static_cast<quint64>(head.value(kHighest).toDouble());
    for (const QJsonValue& v : head.value(kOverlaps).toArray()) {
        const QJsonArray pair = v.toArray();
        if (pair.size() == 2)
            handed.image.overlaps.push_back({static_cast<quint64>(pair[0].toDouble()), static_cast<quint64>(pair[1].toDouble())});
    }
    handed.image.ok = true;
    return handed;
}

} // namespace talvo::cli
