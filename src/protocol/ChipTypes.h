#pragma once
// The entries of the chip-type list and what each one means for a download:
// which bootloader protocol runs, and for an STC entry the family row
// (StcFamily.h) that says how its download goes.  The indices are those the
// settings store.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace talvo::protocol {

enum class Bootloader { Stm32, Stc };

struct StcFamily;

struct ChipTypeInfo {
    int index;                 // position in the chip-type list (kept by the stored settings)
    const char* listText;      // the list entry as the window shows it
    Bootloader bootloader;
    const char* stcFamily;     // the key of its STC family row ("" for STM32)
    const char* aliases;       // short names for `talvo download --chip`, space-separated
    // The STC family row; null for STM32 and for an index outside the list.
    const StcFamily* stc() const;
};

// The list in the window's order.
const std::vector<ChipTypeInfo>& ChipTypes();
// The entry at `index`; an index outside the list (-1: no selection) takes
// the STC branch and has no family, as the download sequence reports.
const ChipTypeInfo& ChipTypeAt(int index);
// The texts of the list.
QStringList ChipTypeListTexts();
// A list text ("STC89C5XX系列") in the reader's language; a text without a
// translation is shown as it stands.
QString ChipTypeDisplayName(const QString& listText);
// The index named by `name`: a list text, an alias ("stc89", "stm32") or the
// index itself; -1 when none.
int ChipTypeByName(const QString& name);
// "stm32, stc89, ..." -- the names ChipTypeByName takes, for help texts.
QString ChipTypeNamesHelp();

inline bool IsStm32ChipType(int index) { return ChipTypeAt(index).bootloader == Bootloader::Stm32; }

} // namespace talvo::protocol
