#pragma once
// Opens serial devices by name; SystemSerialDeviceFactory opens the
// machine's devices and the simulated boards.

#include <QString>

#include <memory>

#include "platform/SerialDevice.h"

namespace talvo {

class SerialDeviceFactory {
public:
    virtual ~SerialDeviceFactory() = default;
    // Null with *status set when the device cannot be opened.
    virtual std::unique_ptr<SerialDevice> open(const QString& name, DeviceStatus* status) = 0;
    // The key under which the device of `name` is claimed (PortClaims.h):
    // equal for every name of one device.
    virtual QString claimKey(const QString& name) const;
};

} // namespace talvo
