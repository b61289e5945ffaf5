#pragma once
// Pieces the channel tests share: a device factory for simulated wires and
// ptys, an event target that counts the reader's notifications, and a pump.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/Messages.h"
#include "platform/PosixTtyDevice.h"
#include "platform/SerialDeviceFactory.h"
#include "platform/SimWireDevice.h"
#include "platform/TestPeer.h"

namespace talvo::test {

class TestFactory : public SerialDeviceFactory {
public:
    std::shared_ptr<PeerLog> log = std::make_shared<PeerLog>();
    // Replaces the simulated wire for "sim:" names when set.
    std::function<std::unique_ptr<SerialDevice>(const QString&)> custom;
    int opened = 0;
    // When set, every open fails with this status.
    DeviceStatus refuse;

    std::unique_ptr<SerialDevice> open(const QString& name, DeviceStatus* status) override {
        ++opened;
        if (!refuse.ok()) {
            *status = refuse;
            return nullptr;
        }
        if (name == QLatin1String("sim:missing")) {
            *status = DeviceStatus::fromErrno(ENOENT, QStringLiteral("no device called sim:missing"));
            return nullptr;
        }
        if (name.startsWith(QLatin1String("sim:"))) {
            if (custom) return custom(name);
            return std::make_unique<SimWireDevice>(name, std::make_unique<TestPeer>(log));
        }
        return PosixTtyDevice::open(name, status);
    }
    // The peer's UART sends `bytes` to the host now (from the test thread).
    void inject(std::vector<uint8_t> bytes, LineSettings settings) {
        log->link.load()->sendToHost(bytes.data(), bytes.size(), settings, WireClock::now());
    }
};

class EventTarget : public QObject {
public:
    int serialData = 0;
    int portTestData = 0;
    std::function<void()> onSerialData;
    std::function<void()> onPortTestData;

    bool event(QEvent* e) override {
        if (e->type() == WM_SERIAL_DATA) {
            ++serialData;
            if (onSerialData) onSerialData();
            return true;
        }
        if (e->type() == WM_PORTTEST_DATA) {
            ++portTestData;
            if (onPortTestData) onPortTestData();
            return true;
        }
        return QObject::event(e);
    }
};

// Runs the user-interface thread's queue until `done` or the time is up.
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds span) {
    pumpUntil([] { return false; }, span);
}

} // namespace talvo::test
