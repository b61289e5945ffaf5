#include "protocol/Stm32Plan.h"

#include <algorithm>

#include "protocol/Stm32Frames.h"
#include "protocol/Stm32Link.h"

namespace talvo::protocol {

std::vector<Stm32EraseChunk> Stm32EraseChunks(const Stm32Units& units, int maxPerCommand) {
    std::vector<Stm32EraseChunk> chunks;
    const int step = std::max(1, maxPerCommand);
    for (int first = units.first; first <= units.last(); first += step)
        chunks.push_back({first, std::min(step, units.last() - first + 1)});
    return chunks;
}

QByteArray Stm32EraseList(const Stm32EraseChunk& chunk, bool extended) {
    return extended ? Stm32ExtendedPageList(chunk.first, chunk.count) : Stm32PageList(chunk.first, chunk.count);
}

Stm32Written Stm32MergeKept(uint64_t unitsStart, uint32_t address, const QByteArray& image, const QByteArray& head,
                            const QByteArray& tail, int writeUnit) {
    const uint64_t end = uint64_t(address) + static_cast<uint64_t>(image.size());
    qsizetype from = 0;
    while (from < head.size() && static_cast<uint8_t>(head[from]) == 0xFF) ++from;
    qsizetype to = tail.size();
    while (to > 0 && static_cast<uint8_t>(tail[to - 1]) == 0xFF) --to;
    Stm32Written w;
    if (from < head.size()) w.kept << stm32::Span(unitsStart + static_cast<uint64_t>(from), address);
    if (to > 0) w.kept << stm32::Span(end, end + static_cast<uint64_t>(to));
    // Whole write units: the writes start and end on them.
    from -= static_cast<qsizetype>((unitsStart + static_cast<uint64_t>(from)) % static_cast<uint64_t>(writeUnit));
    const uint64_t tailEnd = end + static_cast<uint64_t>(to);
    to = std::min(tail.size(), to + static_cast<qsizetype>((writeUnit - tailEnd % writeUnit) % writeUnit));
    w.address = static_cast<uint32_t>(unitsStart + static_cast<uint64_t>(from));
    w.bytes = head.mid(from) + image + tail.left(to);
    return w;
}

QByteArray Stm32WriteBlock(const Stm32Written& written, int i, int writeUnit) {
    return Stm32PadTo(written.bytes.mid(static_cast<qsizetype>(i - 1) * kStm32BlockSize, kStm32BlockSize), writeUnit);
}

uint32_t Stm32WriteBlockAddress(const Stm32Written& written, int i) {
    return written.address + static_cast<uint32_t>((i - 1) * kStm32BlockSize);
}

} // namespace talvo::protocol
