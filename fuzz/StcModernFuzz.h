#pragma once
// The choices the STC15/STC8 fuzz targets and their corpus writer share:
// the families by settings bits, the handshake rates, and the `--freq` and
// `--baud` the whole-download target takes from its second settings byte.
#include <cstdint>

#include "protocol/StcModernStatus.h"

namespace talvo::fuzz {

inline constexpr protocol::StcModernFamily kModernFamilies[] = {
    protocol::StcModernFamily::Stc15a, protocol::StcModernFamily::Stc15, protocol::StcModernFamily::Stc8,
    protocol::StcModernFamily::Stc8d, protocol::StcModernFamily::Stc8g};
inline protocol::StcModernFamily modernFamily(uint8_t bits) { return kModernFamilies[bits % 5]; }

inline constexpr int kModernHandshakes[] = {2400, 4800, 9600, 19200};

// `--freq` in MHz (0: the chip's own) by the second settings byte's low
// nibble, `--baud` (0: the speed mode's) by its high nibble.
inline constexpr double kModernFreqs[16] = {0,  11.0592, 24,   22.1184, 5.5296, 12, 33.1776, 4,
                                            35, 18.432,  6,    27,      16,     20, 0.5,     100};
inline constexpr uint32_t kModernBauds[16] = {0,     9600,  115200, 57600, 19200, 38400,  460800, 4800,
                                              14400, 28800, 230400, 2400,  1200,  921600, 12345,  0};

} // namespace talvo::fuzz
