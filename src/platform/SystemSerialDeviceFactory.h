#pragma once
// Opens serial devices by name:
//   "sim:CHIP"        an in-process chip simulator (see SimBoardSet.h) on a
//                     simulated wire;
//   "/dev/pts/3"      an absolute path, as given;
//   "ttyUSB0"         a name relative to the device root (normally /dev).

#include <QString>

#include "platform/SerialDeviceFactory.h"

namespace talvo {

class SimBoardSet;

class SystemSerialDeviceFactory final : public SerialDeviceFactory {
public:
    // "sim:" ports open on `boards` (null: the process's set).
    explicit SystemSerialDeviceFactory(QString devRoot = QString(), SimBoardSet* boards = nullptr)
        : DevRoot(std::move(devRoot)), Boards(boards) {}
    std::unique_ptr<SerialDevice> open(const QString& name, DeviceStatus* status) override;
    // A "sim:" board of a set of its own is another board than the
    // process's of the same name.
    QString claimKey(const QString& name) const override;

    // The path a name stands for under `devRoot` ("" = /dev).
    static QString resolve(const QString& name, const QString& devRoot);

private:
    QString DevRoot;
    SimBoardSet* Boards;
};

} // namespace talvo
