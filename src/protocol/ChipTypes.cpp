#include "protocol/ChipTypes.h"

#include <QCoreApplication>

#include "protocol/StcFamily.h"

namespace talvo::protocol {

namespace {
// The list texts as a person reads them, in the reader's language (see
// ChipTypeDisplayName); a text without a translation is shown as it stands.
[[maybe_unused]] const char* const kChipTypeNames[] = {
    QT_TRANSLATE_NOOP("ChipTypes", "STC89C5XX系列"), QT_TRANSLATE_NOOP("ChipTypes", "STC11F60系列"),
    QT_TRANSLATE_NOOP("ChipTypes", "STC12C60系列"),  QT_TRANSLATE_NOOP("ChipTypes", "STC90C5XX系列"),
    QT_TRANSLATE_NOOP("ChipTypes", "STC15系列"),     QT_TRANSLATE_NOOP("ChipTypes", "STC8系列"),
};
} // namespace

const std::vector<ChipTypeInfo>& ChipTypes() {
    static const std::vector<ChipTypeInfo> table = {
        {.index = 0, .listText = "ARM-STM32", .bootloader = Bootloader::Stm32, .stcFamily = "", .aliases = "stm32 arm"},
        {.index = 1, .listText = "STC89C5XX系列", .bootloader = Bootloader::Stc, .stcFamily = "stc89", .aliases = "stc89"},
        {.index = 2, .listText = "STC11F60系列", .bootloader = Bootloader::Stc, .stcFamily = "stc11", .aliases = "stc11"},
        {.index = 3, .listText = "STC12C60系列", .bootloader = Bootloader::Stc, .stcFamily = "stc12", .aliases = "stc12"},
        {.index = 4, .listText = "STC90C5XX系列", .bootloader = Bootloader::Stc, .stcFamily = "stc90", .aliases = "stc90"},
        {.index = 5, .listText = "STC15系列", .bootloader = Bootloader::Stc, .stcFamily = "stc15", .aliases = "stc15 iap15"},
        {.index = 6, .listText = "STC8系列", .bootloader = Bootloader::Stc, .stcFamily = "stc8", .aliases = "stc8"},
    };
    return table;
}

const StcFamily* ChipTypeInfo::stc() const { return *stcFamily ? FindStcFamily(stcFamily) : nullptr; }

const ChipTypeInfo& ChipTypeAt(int index) {
    static const ChipTypeInfo none = {
        .index = -1, .listText = "", .bootloader = Bootloader::Stc, .stcFamily = "", .aliases = ""};
    const auto& table = ChipTypes();
    if (index < 0 || index >= static_cast<int>(table.size())) return none;
    return table[static_cast<size_t>(index)];
}

QStringList ChipTypeListTexts() {
    QStringList texts;
    for (const auto& c : ChipTypes()) texts << QString::fromUtf8(c.listText);
    return texts;
}

QString ChipTypeDisplayName(const QString& listText) {
    return QCoreApplication::translate("ChipTypes", listText.toUtf8().constData());
}

int ChipTypeByName(const QString& name) {
    const QString wanted = name.trimmed();
    bool isNumber = false;
    const int number = wanted.toInt(&isNumber);
    if (isNumber) return number >= 0 && number < static_cast<int>(ChipTypes().size()) ? number : -1;
    for (const auto& c : ChipTypes()) {
        if (wanted.compare(QString::fromUtf8(c.listText), Qt::CaseInsensitive) == 0) return c.index;
        const QStringList aliases = QString::fromLatin1(c.aliases).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString& a : aliases)
            if (wanted.compare(a, Qt::CaseInsensitive) == 0) return c.index;
    }
    return -1;
}

QString ChipTypeNamesHelp() {
    QStringList lines;
    for (const auto& c : ChipTypes())
        lines << QStringLiteral("%1 = \"%2\"")
                     .arg(QString::fromLatin1(c.aliases).split(QLatin1Char(' ')).join(QStringLiteral(" | ")),
                          QString::fromUtf8(c.listText));
    return lines.join(QStringLiteral("; "));
}

} // namespace talvo::protocol
