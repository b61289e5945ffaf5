#pragma once
// How an image is laid onto an STM32's flash, as pure functions: which
// erase commands name the units (pages or sectors) it lies in, and what is
// written -- the image with the bytes its units hold outside it (read before
// the erase, so that nothing else changes), from an address on the chip's
// write unit, whole write units, 0xFF where nothing is kept.

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "protocol/Stm32Parts.h"

namespace talvo::protocol {

// One erase command's units: numbers `first` to `first` + `count` - 1.
struct Stm32EraseChunk {
    int first = 0;
    int count = 0;
};
// The erase commands that name `units`, `maxPerCommand` at most each.
std::vector<Stm32EraseChunk> Stm32EraseChunks(const Stm32Units& units, int maxPerCommand);
// The unit list of one command: Erase (0x43) or Extended Erase (0x44).
QByteArray Stm32EraseList(const Stm32EraseChunk& chunk, bool extended);

// What the writes carry: `bytes` from `address` on.
struct Stm32Written {
    uint32_t address = 0;
    QByteArray bytes;
    QStringList kept; // the spans of kept bytes that are written back ("0x08004000 至 0x080040FF")
};
// The image at `address` with `head` (the bytes from `unitsStart` up to
// `address`) and `tail` (the bytes after the image up to the units' end)
// around it.  Erased flash reads 0xFF: kept bytes of 0xFF at the outer ends
// need no writing, except to fill the write units the writes begin and end
// in.  `unitsStart` lies on a write unit.
Stm32Written Stm32MergeKept(uint64_t unitsStart, uint32_t address, const QByteArray& image, const QByteArray& head,
                            const QByteArray& tail, int writeUnit);
// Block i (1-based) of `written`: 256 bytes, the last one the rest padded
// with 0xFF to a whole write unit; and its address.
QByteArray Stm32WriteBlock(const Stm32Written& written, int i, int writeUnit);
uint32_t Stm32WriteBlockAddress(const Stm32Written& written, int i);

} // namespace talvo::protocol
