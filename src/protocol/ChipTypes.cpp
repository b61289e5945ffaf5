#include "protocol/ChipTypes.h"

namespace talvo::protocol {

const std::vector<ChipTypeInfo>& ChipTypes() {
    // index, list text, bootloader, family, label, +model byte, 50 data, closing, aliases
    // The two-byte families' labels are crosswise to their list entries, as
    // the program has always logged them.
    static const std::vector<ChipTypeInfo> table = {
        {.index = 0, .listText = "ARM-STM32", .bootloader = Bootloader::Stm32, .familyCode = 0, .label = "",
         .labelTakesModelByte = false, .prepareData = "", .closing = StcClosing::EndOnly,
         .aliases = "stm32 arm"},
        {.index = 1, .listText = "STC89C5XX系列", .bootloader = Bootloader::Stc, .familyCode = 1,
         .label = "STC89C5", .labelTakesModelByte = true, .prepareData = "", .closing = StcClosing::OptionsThenEnd,
         .aliases = "stc89"},
        {.index = 2, .listText = "STC11F60系列", .bootloader = Bootloader::Stc, .familyCode = 2, .label = "STC12",
         .labelTakesModelByte = false, .prepareData = "07003601", .closing = StcClosing::SixtyNineThenEnd,
         .aliases = "stc11"},
        {.index = 3, .listText = "STC12C60系列", .bootloader = Bootloader::Stc, .familyCode = 2, .label = "STC11F",
         .labelTakesModelByte = false, .prepareData = "0A003601", .closing = StcClosing::SixtyNineThenEnd,
         .aliases = "stc12"},
        {.index = 4, .listText = "STC90C5XX系列", .bootloader = Bootloader::Stc, .familyCode = 1,
         .label = "STC90C516", .labelTakesModelByte = false, .prepareData = "", .closing = StcClosing::EndOnly,
         .aliases = "stc90"},
    };
    return table;
}

const ChipTypeInfo& ChipTypeAt(int index) {
    static const ChipTypeInfo none = {.index = -1, .listText = "", .bootloader = Bootloader::Stc, .familyCode = 0,
                                      .label = "", .labelTakesModelByte = false, .prepareData = "",
                                      .closing = StcClosing::EndOnly, .aliases = ""};
    const auto& table = ChipTypes();
    if (index < 0 || index >= static_cast<int>(table.size())) return none;
    return table[static_cast<size_t>(index)];
}

QStringList ChipTypeListTexts() {
    QStringList texts;
    for (const auto& c : ChipTypes()) texts << QString::fromUtf8(c.listText);
    return texts;
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
