#include "sim/LoopbackChip.h"

namespace talvo::sim {

LoopbackChip::LoopbackChip(ChipOptions options) : SimChip("loopback", std::move(options), 0) {}

void LoopbackChip::onHostByte(uint8_t byte, const LineSettings& host, TimePoint at) {
    if (!link_ || !wireFaults(&byte, "byte ")) return;
    link_->sendToHost(&byte, 1, host, plus(at, options_.faults.delay));
}

} // namespace talvo::sim
