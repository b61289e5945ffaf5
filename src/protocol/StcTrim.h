#pragma once
// Trimming the internal RC oscillator of STC15A, STC15 and STC8 chips: the
// host sends trim values ("challenges"), the chip answers, for each, the
// count its RC makes during the host's calibration pulses, and the host picks
// the trim whose count lies nearest the count of the frequency it wants.
//
// Count scales (B_h the handshake rate, d the STC8 clock divider):
//   STC15A           N = 7 f / (12 B_h)   (the status frame's count scale)
//   STC15, STC8      N = 2 d f / B_h      (RC cycles in two bit times)
//   STC8D, STC8G     N = d f / B_h
// A trim is two bytes in the order the frames carry them:
//   STC15A           band (18, 58, 98, D8), fine step 00..FF; interpolated
//                    as one 16-bit number
//   STC15            fine step T 00..FF, band R (C0, 80, 40, 00: low to high)
//   STC8             coarse T 00..FF, fine F 00..03 (F steps ~ a third of T)
//   STC8D, STC8G     T 00..FF, band (00 10 20 30, or 00 80)
// The sequences: STC15A one round of six (user range and programming clock)
// and one of eleven; STC15 one round over every band and one of twelve
// around the user and programming targets; STC8 one round for the divider
// and a coarse T and one of twelve around it.  Every function here is pure.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/StcModernStatus.h"

namespace talvo::protocol {

struct StcTrim {
    uint8_t first = 0;
    uint8_t second = 0;
    uint16_t word() const { return static_cast<uint16_t>(first << 8 | second); }
    static StcTrim fromWord(unsigned w) { return {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)}; }
    bool operator==(const StcTrim&) const = default;
};

// The programming clocks of the STC15A and STC15 (the STC8 programs on its
// factory-trimmed 24 MHz).
inline constexpr double kStcHighSpeedHz = 22118400.0;
inline constexpr double kStcNormalSpeedHz = 11059200.0;
inline constexpr double kStc8ProgramHz = 24000000.0;
// The STC8 dividers the host tries, smallest first.
inline constexpr int kStc8MaxDivider = 5;

// The count the chip answers for `hz` at handshake rate `baud` (with divider
// `divider`: the RC runs at divider x hz), and back.
double StcTrimCount(StcModernFamily family, double hz, int baud, int divider = 1);
double StcTrimFrequency(StcModernFamily family, double count, int baud, int divider = 1);

// The index of the count nearest `target` among counts[from .. from+n-1]
// (the first of equals); -1 when the range is empty.
int NearestCount(const std::vector<uint16_t>& counts, double target, int from = 0, int n = -1);

// ---- STC15A -------------------------------------------------------------------------
// The six challenges of the first round: four by the user frequency, two
// around the programming clock (22.1184 MHz at high speed, 11.0592 normal).
// nullopt with *why set outside 4..40 MHz.
std::optional<std::vector<StcTrim>> Stc15aFirstRound(double userHz, bool highSpeed, QString* why = nullptr);
// The programming trim: challenges 5 and 6 interpolated to `target`.
std::optional<StcTrim> Stc15aProgrammingTrim(const std::vector<StcTrim>& round1, const std::vector<uint16_t>& counts,
                                             double target, QString* why = nullptr);
// The eleven challenges of the second round: from the user trim (pair 3-4
// when its counts bracket `target`, else pair 1-2, interpolated) less 5,
// kept within the pair.
std::optional<std::vector<StcTrim>> Stc15aSecondRound(const std::vector<StcTrim>& round1,
                                                      const std::vector<uint16_t>& counts, double target,
                                                      QString* why = nullptr);

// ---- STC15 --------------------------------------------------------------------------
// The first round: T = 00, 80, FF in bands C0, 80, 40 and T = 00, 80 in band
// 00 (eleven challenges; the frame carries a twelfth, empty slot).
std::vector<StcTrim> Stc15FirstRound();
inline constexpr int kStcCalibrationSlots = 12;
// The trim for `target` from neighbouring challenges in one band whose counts
// bracket it (pairs that straddle two bands are skipped: their counts say
// nothing of either band); nullopt with *why naming what the bands reach.
std::optional<StcTrim> Stc15Estimate(const std::vector<StcTrim>& challenges, const std::vector<uint16_t>& counts,
                                     double target, QString* why = nullptr);
// The twelve challenges of the second round: T-3 .. T+2 of the user trim,
// then of the programming trim (windows kept within 00..FF).
std::vector<StcTrim> Stc15SecondRound(StcTrim user, StcTrim program);
// Whether every count of counts[from .. from+n-1] lies on one side of
// `target`: the best trim may lie outside the window (another round helps).
bool StcCountsOneSided(const std::vector<uint16_t>& counts, double target, int from, int n);

// ---- STC8 and its newer variant -----------------------------------------------------
// First rounds.  STC8, wide: T = 00 17 2E 45 5C 73 8A A1 B8 CF E6 FF with F 0
// (every target the RC reaches); STC8, narrow: T = 00, 80 (targets whose
// divided clock lies between them); STC8D: T 00 and FF in bands 00 10 20 30;
// STC8G: T 00 and 80 in bands 00 and 80, and T FF in band 00 (unused).
enum class Stc8FirstRoundKind { Wide, Narrow };
std::vector<StcTrim> Stc8FirstRound(Stc8FirstRoundKind kind);
std::vector<StcTrim> Stc8dFirstRound();
std::vector<StcTrim> Stc8gFirstRound();
// STC8G: filler bytes 66 after the first and the second round's frames.
inline constexpr int kStc8gFirstRoundFiller = 12;
inline constexpr int kStc8gSecondRoundFiller = 19;
inline constexpr uint8_t kStc8gFillerByte = 0x66;

struct Stc8Estimate {
    int divider = 1;
    StcTrim trim;
    double target = 0; // the count wanted (divider included)
};
// The first divider 1..5 whose target count the first round brackets, and the
// trim interpolated there (STC8: T between neighbouring challenges, F 0;
// STC8D: T = 255 (N - c00) / (cFF - c00) in the first band that holds N;
// STC8G: T = 128 (N - c00) / (c80 - c00) in the first band giving 6..250).
std::optional<Stc8Estimate> Stc8EstimateTrim(StcModernFamily family, const std::vector<StcTrim>& challenges,
                                             const std::vector<uint16_t>& counts, double userHz, int baud,
                                             QString* why = nullptr);
// Second rounds (twelve challenges).  STC8: T, T+1, T+2 with F 0..3 each
// (`centred`: T-1, T, T+1 for F 0, then F 1, 2, 3); STC8D/STC8G: T-6 .. T+5
// in the estimate's band.
std::vector<StcTrim> Stc8SecondRound(StcTrim estimate, bool centred);
std::vector<StcTrim> Stc8dSecondRound(StcTrim estimate);

// The frequency a never-trimmed chip's program is trimmed to when none is
// asked for: the common frequency (UART-friendly multiples of 1.8432 MHz,
// whole MHz 6..35) nearest to the clock it runs on now, when one lies within
// 3 %; otherwise that clock itself, to 1 kHz.
double NearestCommonStcFrequency(double hz);

} // namespace talvo::protocol
