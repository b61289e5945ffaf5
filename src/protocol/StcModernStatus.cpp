// Reading the STC15A, STC15 and STC8 status frames (layouts in the header).
#include "protocol/StcModernStatus.h"

#include "protocol/StcModels.h"

namespace talvo::protocol {

namespace {

uint8_t byteAt(const QByteArray& p, int i) { return static_cast<uint8_t>(p.at(i)); }
uint16_t word16(const QByteArray& p, int i) { return static_cast<uint16_t>(byteAt(p, i) << 8 | byteAt(p, i + 1)); }
uint32_t word32(const QByteArray& p, int i) { return static_cast<uint32_t>(word16(p, i)) << 16 | word16(p, i + 2); }
int bcd(uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); }

constexpr uint8_t kStatusType = 0x50;
// Bootloaders from 7.2 on expect the marker 5A A5 in most commands.
constexpr uint8_t kMarkerFromVersion = 0x72;
// Codes F294 and F2D4: the STC15A part has a bootloader below 7.0.
constexpr uint8_t kStc15FirstVersion = 0x70;

int minimumBytes(StcModernFamily f) {
    switch (f) {
    case StcModernFamily::Stc15a: return kStc15aStatusBytes;
    case StcModernFamily::Stc15: return kStc15StatusBytes;
    default: return kStc8StatusBytes;
    }
}

QString hex4(unsigned v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); }

} // namespace

const char* StcModernFamilyKey(StcModernFamily family) {
    switch (family) {
    case StcModernFamily::Stc15a: return "stc15a";
    case StcModernFamily::Stc15: return "stc15";
    case StcModernFamily::Stc8: return "stc8";
    case StcModernFamily::Stc8d: return "stc8d";
    case StcModernFamily::Stc8g: return "stc8g";
    }
    return "";
}

std::optional<StcModernFamily> StcModernFamilyFromKey(const QString& key) {
    for (StcModernFamily f : {StcModernFamily::Stc15a, StcModernFamily::Stc15, StcModernFamily::Stc8,
                              StcModernFamily::Stc8d, StcModernFamily::Stc8g})
        if (key == QLatin1String(StcModernFamilyKey(f))) return f;
    return std::nullopt;
}

QString StcFamilyOfModel(uint16_t code, uint8_t version) {
    const std::vector<StcModelInfo> rows = FindStcModels(code);
    if (rows.empty()) return {};
    if (rows.size() > 1) {
        const char* want = version < kStc15FirstVersion ? "stc15a" : "stc15";
        for (const StcModelInfo& m : rows)
            if (QLatin1String(m.family) == QLatin1String(want)) return QString::fromLatin1(m.family);
    }
    return QString::fromLatin1(rows.front().family);
}

QString StcChipTypeFor(const QString& familyKey, const QString& modelName) {
    const QString name = modelName.toUpper();
    if (familyKey == QLatin1String("stc89")) return name.startsWith(QLatin1String("STC90")) ? "stc90" : "stc89";
    if (familyKey == QLatin1String("stc12") || familyKey == QLatin1String("stc12a") ||
        familyKey == QLatin1String("stc12b")) {
        for (const char* prefix : {"STC10", "IAP10", "STC11", "IAP11"})
            if (name.startsWith(QLatin1String(prefix))) return QStringLiteral("stc11");
        return QStringLiteral("stc12");
    }
    if (familyKey == QLatin1String("stc15a") || familyKey == QLatin1String("stc15")) return QStringLiteral("stc15");
    if (familyKey == QLatin1String("stc8") || familyKey == QLatin1String("stc8d") || familyKey == QLatin1String("stc8g"))
        return QStringLiteral("stc8");
    return {};
}

std::optional<StcModernFamily> StcModernFamilyOfStatus(const QByteArray& payload, QString* why) {
    if (payload.size() < 23 || byteAt(payload, 0) != kStatusType) {
        if (why) *why = QStringLiteral("not a status frame of 23 bytes or more with type 50 (%1 bytes)").arg(payload.size());
        return std::nullopt;
    }
    const uint16_t code = word16(payload, 20);
    const QString key = StcFamilyOfModel(code, byteAt(payload, 17));
    if (key.isEmpty()) {
        if (why) *why = QStringLiteral("model code %1 is not in the model table").arg(hex4(code));
        return std::nullopt;
    }
    const auto family = StcModernFamilyFromKey(key);
    if (!family && why) *why = QStringLiteral("model code %1 belongs to the %2 family").arg(hex4(code), key);
    return family;
}

std::optional<StcModernStatus> ReadStcModernStatus(const QByteArray& p, StcModernFamily family, QString* why) {
    const int need = minimumBytes(family);
    if (p.size() < need || byteAt(p, 0) != kStatusType) {
        if (why)
            *why = QStringLiteral("%1 status needs type 50 and %2 payload bytes (got %3 bytes, type %4)")
                       .arg(QLatin1String(StcModernFamilyKey(family)))
                       .arg(need)
                       .arg(p.size())
                       .arg(p.isEmpty() ? QStringLiteral("none") : QString::number(byteAt(p, 0), 16).toUpper());
        return std::nullopt;
    }
    StcModernStatus s;
    s.family = family;
    s.version = byteAt(p, 17);
    s.stepping = byteAt(p, 18);
    s.modelCode = word16(p, 20);
    const QString major = QString::number(s.version >> 4), minor = QString::number(s.version & 0x0F);
    const QChar step = QChar::fromLatin1(static_cast<char>(s.stepping));
    if (family == StcModernFamily::Stc15a) {
        for (int i = 0; i < 4; ++i) s.counts.push_back(word16(p, 1 + 2 * i));
        s.extraCounts = {word16(p, 9), word16(p, 11)};
        s.options = p.mid(23, 13);
        s.trimHigh = byteAt(p, 26);
        s.trimLow = byteAt(p, 27);
        s.trimConstants = p.mid(51, 7);
        s.versionText = major + QLatin1Char('.') + minor + step;
        return s;
    }
    s.versionDigit = byteAt(p, 22) & 0x0F;
    s.versionText = major + QLatin1Char('.') + minor + QLatin1Char('.') + QString::number(s.versionDigit) + step;
    s.marker = s.version >= kMarkerFromVersion;
    s.counts = {word16(p, 13)};
    if (family == StcModernFamily::Stc15) {
        s.wakeupHz = word16(p, 1);
        s.factoryTrim24 = byteAt(p, 4);
        s.options = p.mid(5, 3);
        s.options.append(p.at(12));
        if (p.size() >= kStc15W4StatusBytes) s.options.append(p.at(37));
        s.internalRc = (byteAt(p, 7) & 0x01) != 0;
        const uint32_t hz = word32(p, 8);
        if (hz != 0xFFFFFFFFu) s.storedHz = hz;
        return s;
    }
    const uint32_t hz = word32(p, 1);
    if (hz != 0xFFFFFFFFu) s.storedHz = hz;
    s.trimHigh = byteAt(p, 5);
    s.trimLow = byteAt(p, 6);
    s.divider = byteAt(p, 7);
    s.options = p.mid(9, 3) + p.mid(15, 2);
    s.wakeupHz = word16(p, 23);
    s.referenceMv = word16(p, 35);
    s.made = QDate(2000 + bcd(byteAt(p, 37)), bcd(byteAt(p, 38)), bcd(byteAt(p, 39)));
    return s;
}

StcCurrentClock CurrentStcClock(const StcModernStatus& s, int handshakeBaud) {
    StcCurrentClock c;
    if (s.family == StcModernFamily::Stc15a) {
        double sum = 0;
        for (uint16_t v : s.counts) sum += v;
        c.source = StcCurrentClock::Source::Counts;
        c.hz = s.counts.empty() ? 0 : handshakeBaud * (sum / static_cast<double>(s.counts.size())) * 12.0 / 7.0;
        return c;
    }
    c.bootClockHz = s.counts.empty() ? 0 : static_cast<double>(handshakeBaud) * s.counts.front();
    if (s.family == StcModernFamily::Stc15 && !s.internalRc) {
        c.source = StcCurrentClock::Source::External;
        c.hz = c.bootClockHz;
    } else if (s.storedHz) {
        c.source = StcCurrentClock::Source::Stored;
        c.hz = *s.storedHz;
    }
    return c;
}

} // namespace talvo::protocol
