#pragma once
// The bytes of the STM32 system bootloader's USART protocol, and the log
// lines the download derives from its replies.  Pure functions: no port, no
// waiting, so each piece is checked on its own.
//
// Every command is its code followed by the code's complement; addresses,
// page lists and data blocks end with the XOR of their bytes.  The chip
// answers each step with 0x79 (acknowledge) or 0x1F (refused).

#include <QByteArray>
#include <QString>

#include <cstdint>

#include "protocol/Stm32Parts.h"

namespace talvo::protocol {

inline constexpr uint8_t kStm32Ack = 0x79;
inline constexpr uint8_t kStm32Nack = 0x1F;
inline constexpr uint8_t kStm32Start = 0x7F;
inline constexpr uint32_t kStm32FlashBase = 0x08000000;
inline constexpr int kStm32BlockSize = 256;   // bytes per Write Memory / Read Memory
inline constexpr int kStm32PageListMax = 256; // pages one Erase (0x43) list can name
inline constexpr uint32_t kStm32DefaultBaud = 115200;

enum class Stm32Code : uint8_t {
    Get = 0x00,
    GetId = 0x02,
    ReadMemory = 0x11,
    Go = 0x21,
    WriteMemory = 0x31,
    Erase = 0x43,
    ExtendedErase = 0x44,
    ReadoutProtect = 0x82,
    ReadoutUnprotect = 0x92,
};

// The exclusive or of all bytes, starting from 0.
uint8_t XorChecksum(const QByteArray& bytes);

// The code and its complement ("00ff", "31ce", ...).
QByteArray Stm32CommandBytes(Stm32Code code);
// The address high byte first, then the XOR of its four bytes.
QByteArray Stm32AddressFrame(uint32_t address);
// The byte count of a read (1 to 256) less one, and its complement.
QByteArray Stm32ReadCountFrame(int count);
// A Write Memory data frame: the byte count less one, the bytes (1 to 256),
// then the XOR of the count byte and all data bytes.
QByteArray Stm32DataFrame(const QByteArray& data);
// `block` with 0xFF appended up to a multiple of `unit` bytes (the chip's
// write unit): the bootloader refuses other lengths, and erased flash reads
// 0xFF, so nothing beyond the image changes.
QByteArray Stm32PadTo(QByteArray block, int unit);

// Blocks of 256 bytes the image is written in (the last one holds the rest).
int Stm32BlockCount(int imageSize);
// The image size as the log gives it: whole kilobytes plus one (3000 bytes
// show as 3 KB, 1024 bytes as 2 KB).
int Stm32ImageKb(int imageSize);
// The page list of Erase (0x43): N - 1, the N page numbers from `firstPage`
// on, XOR (page numbers up to 255).
QByteArray Stm32PageList(int firstPage, int pages);
// The page list of Extended Erase (0x44): N - 1 and the page numbers from
// `firstPage` on as two-byte numbers, high byte first, then the XOR of all
// those bytes.  Sector chips take sector numbers the same way.
QByteArray Stm32ExtendedPageList(int firstPage, int pages);
// The whole flash: FF 00 after Erase (0x43), FF FF 00 after Extended Erase.
QByteArray Stm32MassEraseFrame(bool extended);

// Get and Get ID answer 79, N, N + 1 bytes, 79: the whole length once byte 1
// is in, 0 before.
int Stm32ListReplyLength(const QByteArray& reply);
// Whether the Get reply lists `code` among the commands the bootloader offers.
bool Stm32Offers(const QByteArray& getReply, Stm32Code code);

// Position of the progress bar (0 to 1024) after block `block` of `blocks`.
int Stm32Progress(int block, int blocks);

// ---- Log lines ----------------------------------------------------------------
// "bootloader版本:2.2" for version 0x22.
QString Stm32VersionLine(uint8_t version);
// "Device ID:0410".
QString Stm32DeviceIdLine(uint16_t pid);
// "FLASH大小: 64 KB" (at least two digits: "08").
QString Stm32FlashSizeLine(int kb);
// The SRAM line.  F1 parts and unknown IDs (`part` null): from the flash size
// when `word` (the half-word after the flash size) is 0xFFFF, else "SRAM："
// alone.  Other families, and parts whose flash size is not read from the
// chip: the table's figure (Stm32SramKb), or "    ???" without one.
QString Stm32SramLine(int flashKb, uint16_t word, const Stm32Part* part);
// "文件大小： 3 KB".
QString Stm32ImageSizeLine(int kb);

} // namespace talvo::protocol
