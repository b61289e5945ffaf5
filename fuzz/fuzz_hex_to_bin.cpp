// libFuzzer target for the Intel HEX converter: any input must give either an
// image (with its place and overlaps within it) or one message, never a
// crash, a hang, an over-large allocation or undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/HexToBin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using talvo::HexResult;
    using talvo::HexToBin;
    const HexResult r = HexToBin::ConvertBytes(reinterpret_cast<const char*>(data), size, QStringLiteral("fuzz.hex"));
    if (r.ok()) {
        if (!r.message.isEmpty() || r.image.size() > HexToBin::kMaxImageBytes)
            std::abort();
        // The covered range bounds the image, and every overlap lies within it.
        if (!r.image.isEmpty() &&
            (r.lowest < r.origin || r.lowest > r.highest || r.highest != r.origin + quint64(r.image.size()) - 1))
            std::abort();
        for (const talvo::AddressRange& o : r.overlaps)
            if (o.first > o.last || o.first < r.lowest || o.last > r.highest)
                std::abort();
    } else {
        if (r.message.isEmpty() || r.image.size() != 0 || (r.exitCode() != 1 && r.exitCode() != 3))
            std::abort();
        // A record-level fault names its record; it lies within the input.
        if (r.line < 0 || static_cast<size_t>(r.line) > size + 1)
            std::abort();
    }
    if (size >= 2) {
        const talvo::HexPair p = HexToBin::HexPairToByte(data[0], data[1]);
        if (p.error && p.byte % 16 != 0)
            std::abort();
    }
    return 0;
}
