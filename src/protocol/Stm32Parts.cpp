#include "protocol/Stm32Parts.h"

namespace talvo::protocol {

namespace {

// Product IDs: ST AN2606 (the system memory boot mode); flash size register
// and page size: the reference manuals RM0008 (F1), RM0360 and RM0091 (F0),
// RM0316 and RM0313 (F3).  SRAM is given where one ID means one SRAM size.
constexpr Stm32Part kParts[] = {
    // pid    name                                  family             flash size at  page  SRAM KB
    {0x412, "STM32F10x low density", Stm32Family::F1, 0x1FFFF7E0, 1024, 0},
    {0x410, "STM32F10x medium density", Stm32Family::F1, 0x1FFFF7E0, 1024, 0},
    {0x414, "STM32F10x high density", Stm32Family::F1, 0x1FFFF7E0, 2048, 0},
    {0x430, "STM32F10x XL density", Stm32Family::F1, 0x1FFFF7E0, 2048, 0},
    {0x418, "STM32F105/107 connectivity line", Stm32Family::F1, 0x1FFFF7E0, 2048, 0},
    {0x420, "STM32F100 value line low/medium density", Stm32Family::F1, 0x1FFFF7E0, 1024, 0},
    {0x428, "STM32F100 value line high density", Stm32Family::F1, 0x1FFFF7E0, 2048, 0},
    {0x444, "STM32F030x4/x6, F031", Stm32Family::F0, 0x1FFFF7CC, 1024, 4},
    {0x445, "STM32F042, F070x6", Stm32Family::F0, 0x1FFFF7CC, 1024, 6},
    {0x440, "STM32F030x8, F05x", Stm32Family::F0, 0x1FFFF7CC, 1024, 8},
    {0x448, "STM32F070xB, F07x", Stm32Family::F0, 0x1FFFF7CC, 2048, 16},
    {0x442, "STM32F030xC, F09x", Stm32Family::F0, 0x1FFFF7CC, 2048, 32},
    {0x439, "STM32F301x6/8, F302x6/8", Stm32Family::F3, 0x1FFFF7CC, 2048, 16},
    {0x438, "STM32F303x6/8, F334", Stm32Family::F3, 0x1FFFF7CC, 2048, 0},
    {0x422, "STM32F302xB/C, F303xB/C", Stm32Family::F3, 0x1FFFF7CC, 2048, 0},
    {0x432, "STM32F37x", Stm32Family::F3, 0x1FFFF7CC, 2048, 0},
    {0x446, "STM32F302xD/E, F303xD/E", Stm32Family::F3, 0x1FFFF7CC, 2048, 0},
};

} // namespace

const Stm32Part* FindStm32Part(uint16_t pid) {
    for (const Stm32Part& p : kParts)
        if (p.pid == pid) return &p;
    return nullptr;
}

QString Stm32PartLabel(uint16_t pid) {
    const Stm32Part* p = FindStm32Part(pid);
    const QString id = QStringLiteral("0x%1").arg(pid, p ? 3 : 4, 16, QLatin1Char('0'));
    return p ? QStringLiteral("%1 (%2)").arg(QString::fromUtf8(p->name), id) : QStringLiteral("STM32 (%1)").arg(id);
}

} // namespace talvo::protocol
