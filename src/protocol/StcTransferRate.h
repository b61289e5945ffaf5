#pragma once
// The transfer rate a user asks for (`talvo download --baud N`), as each STC
// family's bootloader timer makes it, and the flash-wait byte of the newer
// families' rate switch.
//
// What the chip makes of the reload the host sends:
//   STC89/90 (one-byte family)  f / (32 (256 - RR)), f as measured
//   STC10/11/12 (two-byte)      f / (16 (256 - RR))
//   STC15A                      K / BD, K = 230400 at high speed (22.1184 MHz),
//                               115200 at normal speed (11.0592 MHz)
//   STC15 with a UART           f_p / (4 (65536 - R1)), f_p the programming clock
//   STC15 without (codes F2xx)  f_p / (65536 - R1), with R2 = 65536 - 1.5 f_p / B
//   STC8 and newer              24 MHz / (4 (65536 - R))
// A rate is taken when the chip makes it within 3 % (a UART receives up to
// about 4.5 % off); otherwise the choice names the nearest rates it makes.

#include <QString>

#include <cstdint>
#include <vector>

namespace talvo::protocol {

// The rates the host offers and names, slowest first.
inline constexpr uint32_t kStcOfferedRates[] = {1200,  2400,  4800,   9600,   14400,  19200, 28800,
                                                38400, 57600, 115200, 230400, 460800, 921600};

struct StcRateChoice {
    bool ok = false;
    uint32_t baud = 0;    // the rate asked for
    long reload = 0;      // RR, BD, R1 or R as the frame carries it
    double chipRate = 0;  // what the chip makes of `reload`
    // When not ok: the nearest offered rates the chip makes within 3 %, the
    // one below the rate asked for and the one above (either may be missing).
    std::vector<uint32_t> nearest;
    QString why;          // when not ok: the rate asked for, what the nearest reload makes, the nearest rates
};

// The log line of a rate refused: the rate asked for, what the chip's timer
// makes nearest to it, and the nearest rates it makes within 3 %.
QString StcRateRefusal(const StcRateChoice& choice);

// The older families at measured crystal `mhz` (familyCode 1 or 2 as in StcClock.h).
StcRateChoice OldStcTransferRate(uint32_t baud, double mhz, int familyCode);
StcRateChoice Stc15aTransferRate(uint32_t baud, bool highSpeed);
StcRateChoice Stc15TransferRate(uint32_t baud, double programHz, bool hasUart);
// STC8, STC8D, STC8G: on the factory-trimmed 24 MHz.
StcRateChoice Stc8TransferRate(uint32_t baud, double clockHz = 24000000.0);
// The second reload of STC15 parts without a UART: 65536 - 1.5 f_p / B.
uint16_t Stc15UartlessReload2(uint32_t baud, double programHz);
// Model codes F2xx have no hardware UART.
bool Stc15HasUart(uint16_t modelCode);

// The flash-wait byte for the clock the chip programs at: below 1 MHz 87, 2 86,
// 3 85, 6 84, 12 83, 20 82, 24 81, otherwise 80.  The newer STC8 variant
// takes 98 whatever the clock.
uint8_t StcFlashWait(double hz);
inline constexpr uint8_t kStc8NewerFlashWait = 0x98;

} // namespace talvo::protocol
