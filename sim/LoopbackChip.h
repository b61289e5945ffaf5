#pragma once
// The simulated loopback plug of the port test.

#include "sim/SimChip.h"

namespace talvo::sim {

// The loopback plug: every byte comes straight back (with the wire faults).
class LoopbackChip : public SimChip {
public:
    explicit LoopbackChip(ChipOptions options);
    void onHostByte(uint8_t byte, const LineSettings& host, TimePoint at) override;
    uint8_t nativeParity() const override { return 0; }

protected:
    void bootloaderStart(TimePoint) override {}
    void onChar(const UartChar&, const LineSettings&, TimePoint) override {}
    void boardLines(const ModemLines&, const ModemLines&, TimePoint) override {}
    bool waitingForSync() const override { return true; }
};

} // namespace talvo::sim
