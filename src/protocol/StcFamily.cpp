#include "protocol/StcFamily.h"

#include <cstring>

#include "protocol/DownloadHost.h"

namespace talvo::protocol {

namespace {

// Both speed modes as every family here has them: the handshake at 1200
// baud, the status frame settling 350 ms; low speed at 4800 baud, 100 ms.
constexpr StcHandshakeLine kHighSpeed = {1200, 350};
constexpr StcHandshakeLine kLowSpeed = {4800, 100};
constexpr int kBlockSize = 128;

} // namespace

const std::vector<StcFamily>& StcFamilies() {
    // The two-byte families' labels lie crosswise to their list entries:
    // "STC11F60系列" logs "STC12" and "STC12C60系列" logs "STC11F".
    static const std::vector<StcFamily> rows = {
        {.key = "stc89", .familyCode = 1, .checksumForm = 1, .parity = kParityNone,
         .highSpeed = kHighSpeed, .lowSpeed = kLowSpeed, .switchVariant = StcSwitchVariant::OneByte,
         .switchHead = "FF", .switchTailHigh = "0014", .switchTailLow = "009C50", .prepareData = "",
         .blockSize = kBlockSize, .writeAnswer = 0x80,
         .closing = {{0x8D, "FDFFF3FF", 1, true}, {0x82, "", 1, true}},
         .label = "STC89C5", .labelTakesModelByte = true},
        {.key = "stc11", .familyCode = 2, .checksumForm = 2, .parity = kParityEven,
         .highSpeed = kHighSpeed, .lowSpeed = kLowSpeed, .switchVariant = StcSwitchVariant::TwoByte,
         .switchHead = "C0", .switchTailHigh = "3F1A", .switchTailLow = "3FFE50", .prepareData = "07003601",
         .blockSize = kBlockSize, .writeAnswer = 0x00,
         .closing = {{0x69, "07003601D17E", 2, true}, {0x82, "", 1, false}},
         .label = "STC12", .labelTakesModelByte = false},
        {.key = "stc12", .familyCode = 2, .checksumForm = 2, .parity = kParityEven,
         .highSpeed = kHighSpeed, .lowSpeed = kLowSpeed, .switchVariant = StcSwitchVariant::TwoByte,
         .switchHead = "C0", .switchTailHigh = "3F1A", .switchTailLow = "3FFE50", .prepareData = "0A003601",
         .blockSize = kBlockSize, .writeAnswer = 0x00,
         .closing = {{0x69, "07003601D17E", 2, true}, {0x82, "", 1, false}},
         .label = "STC11F", .labelTakesModelByte = false},
        {.key = "stc90", .familyCode = 1, .checksumForm = 1, .parity = kParityNone,
         .highSpeed = kHighSpeed, .lowSpeed = kLowSpeed, .switchVariant = StcSwitchVariant::OneByte,
         .switchHead = "FF", .switchTailHigh = "0014", .switchTailLow = "009C50", .prepareData = "",
         .blockSize = kBlockSize, .writeAnswer = 0x80,
         .closing = {{0x82, "", 1, false}},
         .label = "STC90C516", .labelTakesModelByte = false},
        // The modern rows: their steps come from the status frame's protocol;
        // the label is the model's name from the model table.  Block sizes:
        // see ModernBlockSize in CMcuType.
        {.key = "stc15", .familyCode = 0, .checksumForm = 2, .parity = kParityEven,
         .highSpeed = kHighSpeed, .lowSpeed = kLowSpeed, .switchVariant = StcSwitchVariant::Modern,
         .switchHead = "", .switchTailHigh = "", .switchTailLow = "", .prepareData = "",
         .blockSize = kBlockSize, .writeAnswer = 0x02, .closing = {}, .label = "", .labelTakesModelByte = false,
         .modernProtocols = "stc15a stc15"},
        {.key = "stc8", .familyCode = 0, .checksumForm = 2, .parity = kParityEven,
         .highSpeed = kHighSpeed, .lowSpeed = kLowSpeed, .switchVariant = StcSwitchVariant::Modern,
         .switchHead = "", .switchTailHigh = "", .switchTailLow = "", .prepareData = "",
         .blockSize = 64, .writeAnswer = 0x02, .closing = {}, .label = "", .labelTakesModelByte = false,
         .modernProtocols = "stc8 stc8d stc8g"},
    };
    return rows;
}

const StcFamily* FindStcFamily(const char* key) {
    for (const StcFamily& f : StcFamilies())
        if (std::strcmp(f.key, key) == 0) return &f;
    return nullptr;
}

std::vector<QByteArray> StcBlocks(const QByteArray& image, int blockSize) {
    std::vector<QByteArray> blocks;
    for (qsizetype at = 0; at < image.size(); at += blockSize) {
        QByteArray b = image.mid(at, blockSize);
        b.append(QByteArray(blockSize - b.size(), '\0'));
        blocks.push_back(b);
    }
    blocks.push_back(QByteArray(blockSize, '\0'));
    return blocks;
}

} // namespace talvo::protocol
