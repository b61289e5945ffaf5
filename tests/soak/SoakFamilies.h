#pragma once
// What the rows of the soak's family table share: building a chip, images,
// older firmware, and the rows themselves.
#include <QByteArray>

#include <memory>
#include <string>

#include "sim/Faults.h"
#include "sim/SimChip.h"
#include "soak/Soak.h"

namespace talvo::soak {

// A wait with a limit of N ticks ends by the (N+1)-th tick of 0.1 s.
inline constexpr double kTick = 0.1;
inline double ticksToSeconds(int limit) { return (limit + 1) * kTick; }

// The chip a selector names (the soak stops on a selector the simulators refuse).
std::unique_ptr<sim::SimChip> buildChip(const std::string& selector);
// A number as a selector writes it.
std::string number(double v, int precision = 6);
// A firmware image of `size` bytes as compilers lay them out.
QByteArray makeImage(sim::Rng& rng, int size);
// Image sizes: now and then a tiny one, else anything up to `cap`.
int imageSize(sim::Rng& rng, int cap);
// Older firmware a chip holds before the download (empty now and then).
QByteArray oldFirmware(sim::Rng& rng, size_t flashSize);

enum class StcFamilyKind { OneByte, TwoByte };
Family StcFamily(StcFamilyKind kind);
enum class StcModernKind { Stc15a, Stc15, Stc8 };
Family StcModernFamily(StcModernKind kind);
Family Stm32Family();

} // namespace talvo::soak
