#include "platform/SystemSerialDeviceFactory.h"

#include <cerrno>

#include "platform/PortClaims.h"
#include "platform/PosixTtyDevice.h"
#include "platform/SimBoardPort.h"
#include "platform/SimBoardSet.h"
#include "platform/SimRegistry.h"

namespace talvo {

QString SystemSerialDeviceFactory::resolve(const QString& name, const QString& devRoot) {
    // A path (absolute, or relative to the working folder as in "./link")
    // is taken as it stands; a bare name is a device under the /dev root.
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
        name.startsWith(QLatin1String("../")))
        return name;
    const QString root = devRoot.isEmpty() ? QStringLiteral("/dev") : devRoot;
    return root.endsWith(QLatin1Char('/')) ? root + name : root + QLatin1Char('/') + name;
}

QString SerialDeviceFactory::claimKey(const QString& name) const { return portClaimKey(name); }

QString SystemSerialDeviceFactory::claimKey(const QString& name) const {
    const QString key = portClaimKey(name, DevRoot);
    if (Boards && name.startsWith(QLatin1String(kSimPortPrefix)))
        return key + QStringLiteral("#%1").arg(reinterpret_cast<quintptr>(Boards), 0, 16);
    return key;
}

std::unique_ptr<SerialDevice> SystemSerialDeviceFactory::open(const QString& name, DeviceStatus* status) {
    if (name.isEmpty()) {
        if (status) *status = DeviceStatus::fromErrno(ENOENT, QStringLiteral("no serial port is selected"));
        return nullptr;
    }
    if (name.startsWith(QLatin1String(kSimPortPrefix))) {
        QString error;
        SimBoardSet& boards = Boards ? *Boards : processSimBoards();
        std::shared_ptr<SimWireDevice> board = boards.board(name.mid(int(sizeof kSimPortPrefix) - 1), &error);
        if (!board) {
            if (status) *status = DeviceStatus::fromErrno(ENODEV, QStringLiteral("%1: %2").arg(name, error));
            return nullptr;
        }
        return SimBoardPort::open(name, std::move(board), status);
    }
    return PosixTtyDevice::open(resolve(name, DevRoot), status);
}

} // namespace talvo
