#pragma once
// Pieces the channel tests share: a device factory for simulated wires and
// ptys, an event target that counts the reader's notifications, and a pump.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
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

// A device driven by the test: it can answer inside write() before
// reporting completion (as a pty with a fast simulator behind it can), and
// can fail to close.
class ScriptedDevice : public SerialDevice {
public:
    std::optional<uint8_t> answerInWrite;
    int closeError = 0;
    // With `quietRx`, bytes given by feed() do not end a wait (only a read
    // finds them).  With holdWakes(), a woken wait returns only after
    // releaseWakes() (a reader the scheduler lets wait, for as long as the
    // test needs).
    bool quietRx = false;
    void feed(uint8_t b) {
        std::lock_guard lock(Mutex);
        Rx.push_back(b);
        Cv.notify_all();
    }
    void holdWakes() {
        std::lock_guard lock(Mutex);
        HoldWakes = true;
    }
    void releaseWakes() {
        std::lock_guard lock(Mutex);
        HoldWakes = false;
        Cv.notify_all();
    }
    // How many waits the reader has begun (it is back in a wait once this grows).
    int waitsBegun() {
        std::lock_guard lock(Mutex);
        return Waits;
    }

    ScriptedDevice() : SerialDevice(QStringLiteral("sim:scripted")) {}
    WaitStatus waitReadable(int timeoutMs) override {
        std::unique_lock lock(Mutex);
        ++Waits;
        auto ready = [&] { return (!quietRx && !Rx.empty()) || Woken; };
        if (timeoutMs < 0)
            Cv.wait(lock, ready);
        else
            Cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        if (Woken) {
            Woken = false;
            Cv.wait(lock, [&] { return !HoldWakes; });
            return WaitStatus::Woken;
        }
        return Rx.empty() ? WaitStatus::TimedOut : WaitStatus::Readable;
    }
    void wake() override {
        std::lock_guard lock(Mutex);
        Woken = true;
        Cv.notify_all();
    }

protected:
    DeviceStatus doConfigure(const LineSettings&) override { return {}; }
    DeviceIo doWrite(const uint8_t*, size_t n, std::chrono::milliseconds) override {
        if (answerInWrite) {
            // The write completes only once the reader has taken the answer.
            std::unique_lock lock(Mutex);
            Rx.push_back(*answerInWrite);
            Cv.notify_all();
            Cv.wait(lock, [&] { return Rx.empty(); });
        }
        return {n, 0};
    }
    DeviceIo doRead(uint8_t* data, size_t n) override {
        std::lock_guard lock(Mutex);
        DeviceIo io;
        while (io.count < n && !Rx.empty()) {
            data[io.count++] = Rx.front();
            Rx.pop_front();
        }
        Cv.notify_all();
        return io;
    }
    DeviceStatus doSetRts(bool) override { return {}; }
    DeviceStatus doSetDtr(bool) override { return {}; }
    DeviceStatus doPurge() override { return {}; }
    DeviceIo doBytesHeld() override {
        std::lock_guard lock(Mutex);
        return {Rx.size(), 0};
    }
    DeviceStatus doClose() override { return DeviceStatus::fromErrno(closeError); }

private:
    std::mutex Mutex;
    std::condition_variable Cv;
    std::deque<uint8_t> Rx;
    bool Woken = false;
    bool HoldWakes = false;
    int Waits = 0;
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
