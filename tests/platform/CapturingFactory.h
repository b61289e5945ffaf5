#pragma once
// A device factory that opens as the system does and keeps the simulated wire
// it made, so that a test can look at what reached the wire (line settings,
// modem lines, history).

#include <memory>

#include "platform/SystemSerialDeviceFactory.h"
#include "platform/SimBoardPort.h"

namespace talvo::test {

class CapturingFactory : public SerialDeviceFactory {
public:
    std::unique_ptr<SerialDevice> open(const QString& name, DeviceStatus* status) override {
        auto d = Inner.open(name, status);
        Wire = dynamic_cast<SimWireDevice*>(d.get());
        // "sim:" ports are ports onto a board that outlives them.
        if (auto* port = dynamic_cast<SimBoardPort*>(d.get())) Wire = &port->board();
        return d;
    }
    SystemSerialDeviceFactory Inner;
    SimWireDevice* Wire = nullptr; // the last simulated wire opened (owned by the device's user or the board registry)
};

} // namespace talvo::test
