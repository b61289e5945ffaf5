// libFuzzer target for the fields the STM32 download reads from the
// bootloader's replies: the length of a Get or Get ID list and the commands
// a Get list offers, the product ID with the part table and its label, the
// flash size and the half-word after it with the SRAM line, the version.
// Any bytes give a length within what the list says, offers found inside the
// list only, and lines of the expected form.
//
// Input: the reply (79, N, N + 1 bytes, 79 for a list).
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "protocol/Stm32Frames.h"

using namespace talvo::protocol;
using talvo::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const int length = Stm32ListReplyLength(reply);
    require(size < 2 ? length == 0 : length == data[1] + 4);
    for (Stm32Code code : {Stm32Code::Get, Stm32Code::GetId, Stm32Code::ReadMemory, Stm32Code::WriteMemory,
                           Stm32Code::Erase, Stm32Code::ExtendedErase}) {
        bool listed = false;
        for (int i = 3; i < std::min<int>(length - 1, static_cast<int>(size)); ++i)
            listed = listed || data[i] == static_cast<uint8_t>(code);
        require(Stm32Offers(reply, code) == listed);
    }
    if (size < 5) return 0;
    const uint16_t pid = static_cast<uint16_t>(data[2] << 8 | data[3]);
    const Stm32Part* part = FindStm32Part(pid);
    if (part) require(part->pid == pid && part->writeUnit >= 4 && Stm32SramKb(*part) >= 0);
    require(Stm32PartLabel(pid).contains(QStringLiteral("0x")));
    require(Stm32DeviceIdLine(pid).startsWith(QStringLiteral("Device ID:")));
    const int flashKb = data[1] | data[2] << 8;
    const uint16_t word = static_cast<uint16_t>(data[3] | data[4] << 8);
    require(Stm32FlashSizeLine(flashKb).startsWith(QStringLiteral("FLASH大小: ")));
    const QString sram = Stm32SramLine(flashKb, word, part);
    require(sram.startsWith(QStringLiteral("SRAM：")) || sram == QStringLiteral("    ???"));
    require(Stm32VersionLine(data[0]).size() > 0);
    require(Stm32ImageSizeLine(flashKb).startsWith(QStringLiteral("文件大小： ")));
    return 0;
}
