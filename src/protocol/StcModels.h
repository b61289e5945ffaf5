#pragma once
// The STC models a status frame can name, by their two-byte model code: the
// model's name, its bootloader protocol family, and the sizes of its code
// flash and of its EEPROM (data flash).  The rows are those of the chip facts
// file shared/stc-models.csv, every row and column, generated into
// StcModelTable.cpp by scripts/stc-models.sh.
//
// A code usually names one model; F294 and F2D4 name two each (an E part of
// the stc15a family and a W part of the stc15 family), told apart only by the
// status frame.  The download uses the code flash size to keep every write
// and erase within the program area.

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace talvo::protocol {

struct StcModelInfo {
    uint16_t code;           // status-frame bytes 23-24 counted from the direction byte 68
    const char* name;        // "STC89C52RC/LE52RC"
    const char* family;      // stc89 stc12a stc12b stc12 stc15a stc15 stc8 stc8d stc8g, or "unassigned"
    uint32_t codeFlashBytes; // the user program area from address 0
    uint32_t eepromBytes;    // the data flash (EEPROM / IAP area)
};

// Every row, in the file's order.
std::span<const StcModelInfo> StcModelTable();
// The rows of `code`: none when the table does not know it.
std::vector<StcModelInfo> FindStcModels(uint16_t code);
// The code flash of the model `code` names (the smaller one where the code
// names two models); nullopt when the table does not know the code.
std::optional<uint32_t> StcCodeFlashBytes(uint16_t code);
// The model's name; both names, joined with "/", where the code names two.
QString StcModelName(uint16_t code);

} // namespace talvo::protocol
