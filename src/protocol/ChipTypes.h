#pragma once
// The entries of the chip-type list and what each one means for a download:
// which bootloader protocol runs, and for the STC families the frame form,
// parity, model label and closing frames.  Every place that used to test
// "index 0 is the STM32" asks this table.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace talvo::protocol {

enum class Bootloader { Stm32, Stc };

// How an STC download ends after the last block.
enum class StcClosing {
    OptionsThenEnd,   // 8D "FDFFF3FF" (awaited), then 82 (awaited)           -- STC89
    SixtyNineThenEnd, // 69 "07003601D17E" (form 2, awaited), 82 form 1 unawaited -- STC11/12
    EndOnly           // 82 form 1, not awaited                                  -- STC90
};

struct ChipTypeInfo {
    int index;                 // position in the chip-type list
    const char* listText;      // the list entry as the window shows it
    Bootloader bootloader;
    // STC only ----------------------------------------------------------------
    int familyCode;            // 1: one checksum byte, no parity; 2: two checksum bytes, even parity
    const char* label;         // model label; for STC89 the model byte's decimal value follows
    bool labelTakesModelByte;
    const char* prepareData;   // the data of the 50 frame before the model code ("" for family 1)
    StcClosing closing;
    const char* aliases;       // short names for `talvo download --chip`, space-separated
};

// The list in the window's order.
const std::vector<ChipTypeInfo>& ChipTypes();
// The entry at `index`; an index outside the list (-1: no selection) takes
// the STC branch with the STC89 entry's frames, and has no family
// (familyCode 0), as the download sequence reports.
const ChipTypeInfo& ChipTypeAt(int index);
// The texts of the list.
QStringList ChipTypeListTexts();
// The index named by `name`: a list text, an alias ("stc89", "stm32") or the
// index itself; -1 when none.
int ChipTypeByName(const QString& name);
// "stm32, stc89, ..." -- the names ChipTypeByName takes, for help texts.
QString ChipTypeNamesHelp();

inline bool IsStm32ChipType(int index) { return ChipTypeAt(index).bootloader == Bootloader::Stm32; }

// Frame form and parity of an STC family code.
inline int StcFrameForm(int familyCode) { return familyCode == 2 ? 2 : 1; }
inline uint8_t StcParity(int familyCode) { return familyCode == 2 ? 2 : 0; }

} // namespace talvo::protocol
