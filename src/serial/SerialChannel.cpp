#include "serial/SerialChannel.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pthread.h>

#include "platform/Messages.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "platform/ThreadNotifier.h"

namespace talvo {

// The reader's three lines per event character; off unless enabled with
// QT_LOGGING_RULES="talvo.serial.reader.debug=true".
Q_LOGGING_CATEGORY(lcSerialReader, "talvo.serial.reader", QtInfoMsg)

SerialChannel::SerialChannel(SerialDeviceFactory* factory) { setDeviceFactory(factory); }

SerialChannel::~SerialChannel() {
    EndReader();
    if (DevicePtr device = DetachDevice()) {
        device->purge();
        device->close();
    }
}

void SerialChannel::setDeviceFactory(SerialDeviceFactory* factory) {
    if (!factory) {
        if (!OwnedFactory) OwnedFactory = std::make_unique<SystemSerialDeviceFactory>();
        factory = OwnedFactory.get();
    }
    Factory = factory;
}

void SerialChannel::setNotifyTarget(QObject* mainWindow) {
    std::lock_guard lock(Mutex);
    if (NotifyTarget == mainWindow && (SerialDataNotifier || !mainWindow)) return;
    NotifyTarget = mainWindow;
    SerialDataNotifier.reset();
    if (!mainWindow) return;
    // Delivered on the window's thread: WM_SERIAL_DATA, sent there.
    QPointer<QObject> target(mainWindow);
    SerialDataNotifier = std::make_unique<ThreadNotifier>([target] {
        if (!target) return;
        QEvent e(WM_SERIAL_DATA);
        QCoreApplication::sendEvent(target, &e);
    });
}

void SerialChannel::setPortTestTarget(QObject* portTestWindow) {
    std::lock_guard lock(Mutex);
    if (PortTestTarget == portTestWindow && (PortTestNotifier || !portTestWindow)) return;
    PortTestTarget = portTestWindow;
    // A delivery the old notifier was to make is never made: release the
    // reader waiting for it.
    CancelDeliveryLocked();
    PortTestNotifier.reset();
    if (!portTestWindow) return;
    // Delivered on the test window's thread; the reader waits until the event
    // has been handled (its destructor releases the reader).
    QPointer<QObject> target(portTestWindow);
    PortTestNotifier = std::make_unique<ThreadNotifier>([this, target] {
        std::shared_ptr<PortTestDataEvent::Handshake> handshake;
        {
            std::lock_guard lock(Mutex);
            if (!PendingDelivery || PendingDelivery->taken) return; // the channel stopped waiting meanwhile
            handshake = PendingDelivery;
            handshake->taken = true;
        }
        PortTestDataEvent e(handshake);
        if (target) QCoreApplication::sendEvent(target, &e);
    });
}

void SerialChannel::SetArrivalWatch(bool on) {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        if (on && !ArrivalWaker) ArrivalWaker = std::make_unique<ThreadNotifier>([] {});
        // Set under the lock: a drain either comes before it (and the waiter
        // finds the bytes queued) or sees the watch on and wakes the waiter.
        WatchArrivals = on;
        device = Device;
    }
    Cv.notify_all(); // a reader delaying a notification gives it up
    if (!on) {
        if (DirectWatch) DirectWatch->setEnabled(false);
        return;
    }
    // The driver wakes this thread itself when the reply comes: one thread
    // woken instead of the reader and then this one.
    const int fd = device ? device->readableDescriptor() : -1;
    if (fd < 0) return;
    if (!DirectWatch || DirectWatch->socket() != fd) {
        DirectWatch = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        // Level-triggered: the bytes are taken at once, so that no event
        // loop (also one nested in the wait) sees the descriptor again.
        QObject::connect(DirectWatch.get(), &QSocketNotifier::activated, DirectWatch.get(), [this] {
            DevicePtr d;
            bool wakeReader = false;
            bool failed = false;
            {
                std::lock_guard lock(Mutex);
                d = Device;
                if (d) wakeReader = TakeArrivalsLocked(*d);
                failed = !d || DeviceFailed;
            }
            Cv.notify_all();
            if (wakeReader) d->wake();
            // A hung-up device stays readable: the wait learns of it from
            // DeviceLost(), not from this watch.
            if (failed) DirectWatch->setEnabled(false);
        });
    }
    DirectWatch->setEnabled(true);
}

void SerialChannel::DropDirectWatch() { DirectWatch.reset(); }

bool SerialChannel::TakeArrivalsLocked(SerialDevice& device) {
    if (DeviceFailed) return false;
    const bool hadEvent = EventSeen;
    if (!DrainLocked(device)) DeviceFailed = true;
    if (!EventSeen || hadEvent) return false;
    // The waiting thread takes the event character with the reply: the
    // reader only logs it.
    EventSeen = false;
    EventTakenByRead = true;
    return true;
}

void SerialChannel::setMessageSink(std::function<void(const QString&)> showMessage) {
    ShowMessage = std::move(showMessage);
}

QString SerialChannel::PortName() const {
    std::lock_guard lock(Mutex);
    return Device ? Device->name() : QString();
}

LineSettings SerialChannel::Settings() const {
    std::lock_guard lock(Mutex);
    return Device ? Device->settings() : LineSettings{};
}

size_t SerialChannel::QueuedBytes() const {
    std::lock_guard lock(Mutex);
    return QueueCount;
}

bool SerialChannel::DeliveryPending() const {
    std::lock_guard lock(Mutex);
    return PendingDelivery != nullptr;
}

bool SerialChannel::ReaderRunning() const {
    std::lock_guard lock(Mutex);
    return ReaderActive;
}

bool SerialChannel::Open(const QString& port, uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits,
                         uint8_t eventChar) {
    if (OpenFlag) Close();
    DeviceStatus status;
    std::unique_ptr<SerialDevice> device = Factory->open(port, &status);
    if (!device) {
        LastStatus = status.ok() ? DeviceStatus::fromErrno(ENODEV, QStringLiteral("cannot open %1").arg(port)) : status;
        return false;
    }
    device->setRts(false);
    DropDirectWatch();
    {
        std::lock_guard lock(Mutex);
        Device = DevicePtr(std::move(device));
        DeviceFailed = false;
        QueueHead = QueueCount = 0;
        EventSeen = EventTakenByRead = false;
    }
    Cv.notify_all();
    return Configure(baud, parity, byteSize, stopBits, eventChar);
}

bool SerialChannel::Configure(uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits, uint8_t eventChar) {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        device = Device;
    }
    if (!device) {
        LastStatus = DeviceStatus::fromErrno(EBADF, QStringLiteral("no serial port is open"));
        return false;
    }
    LineSettings settings;
    settings.baud = baud;
    settings.parity = parity;
    settings.dataBits = byteSize;
    settings.stopBits = stopBits;
    DeviceStatus status = device->configure(settings);
    // The lines are under the program's control only: both low after every
    // configuration, as with DTR and RTS control disabled.
    if (status.ok()) status = device->setDtr(false);
    if (status.ok()) status = device->setRts(false);
    if (!status.ok()) {
        LastStatus = status;
        if (DevicePtr d = DetachDevice()) d->close();
        OpenFlag = false;
        return false;
    }
    {
        std::lock_guard lock(Mutex);
        EvtChar = eventChar;
    }
    LastStatus = {};
    OpenFlag = true;
    return true;
}

int SerialChannel::Write(const uint8_t* bytes, size_t count) {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        device = Device;
        if (!OpenFlag || !device) return 0;
        WriteInProgress = true;
        EventDuringWrite = false;
    }
    static const uint8_t kNothing = 0;
    const DeviceIo io = device->write(count ? bytes : &kNothing, count, std::chrono::milliseconds(kWriteTimeoutMs));
    bool wakeReader = false;
    {
        std::lock_guard lock(Mutex);
        WriteInProgress = false;
        if (io.error != ETIMEDOUT) {
            IsStop = 1;
            // An answer that overtook the report of the write's completion
            // counts as arriving after it.
            if (EventDuringWrite) {
                EventSeen = true;
                wakeReader = true;
            }
        }
        EventDuringWrite = false;
    }
    if (wakeReader) {
        Cv.notify_all();
        device->wake();
    }
    return 1;
}

unsigned SerialChannel::Read(uint8_t* buffer, size_t capacity, unsigned maximum) {
    return ReadQueued(buffer, capacity, maximum, true);
}

unsigned SerialChannel::ReadNow(QByteArray& buffer, unsigned maximum) {
    if (buffer.size() < static_cast<qsizetype>(kQueueSize)) buffer.resize(kQueueSize);
    return ReadQueued(reinterpret_cast<uint8_t*>(buffer.data()), static_cast<size_t>(buffer.size()), maximum, false);
}

bool SerialChannel::DeviceLost() const {
    std::lock_guard lock(Mutex);
    return Device && DeviceFailed;
}

unsigned SerialChannel::ReadQueued(uint8_t* buffer, size_t capacity, unsigned maximum, bool delayFirst) {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        device = Device;
    }
    if (!OpenFlag || !device) return 0;
    if (const int delay = ReplyDelayMs.load(); delay > 0 && delayFirst)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));

    std::unique_lock lock(Mutex);
    const bool wakeReader = Device == device && TakeArrivalsLocked(*device);
    unsigned n = 0;
    if (QueueCount > 0) {
        std::memset(buffer, 0, std::min(capacity, kQueueSize));
        n = static_cast<unsigned>(std::min({QueueCount, static_cast<size_t>(maximum), capacity}));
        for (unsigned i = 0; i < n; ++i) {
            buffer[i] = Queue[QueueHead];
            QueueHead = (QueueHead + 1) % kQueueSize;
        }
        QueueCount -= n;
        IsStop = 0;
    }
    lock.unlock();
    Cv.notify_all(); // room in the queue, or an event character to handle
    if (wakeReader) device->wake();
    return n;
}

unsigned SerialChannel::Read(QByteArray& buffer, unsigned maximum) {
    if (buffer.size() < static_cast<qsizetype>(kQueueSize)) buffer.resize(kQueueSize);
    return Read(reinterpret_cast<uint8_t*>(buffer.data()), static_cast<size_t>(buffer.size()), maximum);
}

int SerialChannel::Close() {
    if (!OpenFlag) return 1;
    OpenFlag = false;
    DevicePtr device = DetachDevice();
    if (!device) return 1;
    // The reader has left the device (DetachDevice waited for it) and every
    // write has ended when it returned, so nothing is pending that a pause
    // could wait for; the bytes still on their way are the device's to send
    // (its close waits for them where it has to).
    device->purge();
    const DeviceStatus status = device->close();
    if (!status.ok()) {
        LastStatus = status;
        if (ShowMessage) ShowMessage(QCoreApplication::translate("SerialChannel", "串口关闭失败"));
        return 0;
    }
    return 1;
}

int SerialChannel::Stop() {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        device = Device;
    }
    if (device) device->purge();
    IsFun = 0;
    {
        std::lock_guard lock(Mutex);
        CancelDeliveryLocked();
    }
    Cv.notify_all();
    if (device) device->wake();
    // DetachDevice waits until the woken reader has left the device.
    int result = 0;
    if (DevicePtr d = DetachDevice()) result = d->close().ok() ? 1 : 0;
    OpenFlag = false;
    IsStop = 0;
    return result;
}

void SerialChannel::StartReader() {
    EndReader();
    IsFun = 1;
    {
        std::lock_guard lock(Mutex);
        QuitReader = false;
        ReaderActive = true;
    }
    Reader = std::thread([this] { ReaderThread(); });
}

bool SerialChannel::SetRts(bool on) {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        device = Device;
    }
    return OpenFlag && device && device->setRts(on).ok();
}

bool SerialChannel::SetDtr(bool on) {
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        device = Device;
    }
    return OpenFlag && device && device->setDtr(on).ok();
}

SerialChannel::DevicePtr SerialChannel::DetachDevice() {
    // The descriptor is not watched once the device may close.
    DropDirectWatch();
    std::unique_lock lock(Mutex);
    DevicePtr device = std::move(Device);
    Device.reset();
    DeviceFailed = false;
    QueueHead = QueueCount = 0;
    EventSeen = EventTakenByRead = false;
    if (!device) return nullptr;
    Cv.notify_all();
    device->wake();
    Cv.wait(lock, [&] { return !ReaderInDevice; });
    return device;
}

void SerialChannel::EndReader() {
    if (!Reader.joinable()) return;
    DevicePtr device;
    {
        std::lock_guard lock(Mutex);
        QuitReader = true;
        CancelDeliveryLocked();
        device = Device;
    }
    Cv.notify_all();
    if (device) device->wake();
    Reader.join();
    std::lock_guard lock(Mutex);
    QuitReader = false;
}

void SerialChannel::CancelDeliveryLocked() {
    if (!PendingDelivery) return;
    {
        std::lock_guard lock(PendingDelivery->mutex);
        PendingDelivery->cancelled = true;
    }
    PendingDelivery->cv.notify_all();
}

bool SerialChannel::DrainLocked(SerialDevice& device) {
    uint8_t chunk[kQueueSize];
    while (QueueCount < kQueueSize) {
        const DeviceIo io = device.read(chunk, kQueueSize - QueueCount);
        const uint8_t evt = EvtChar.load();
        for (size_t i = 0; i < io.count; ++i) {
            Queue[(QueueHead + QueueCount) % kQueueSize] = chunk[i];
            ++QueueCount;
            if (chunk[i] == evt) EventSeen = true;
        }
        if (!io.ok()) return false;
        if (io.count == 0) break;
    }
    return true;
}

void SerialChannel::ReaderThread() {
    pthread_setname_np(pthread_self(), "talvo-reader");
    std::unique_lock lock(Mutex);
    while (IsFun.load() != 0 && !QuitReader) {
        if (EventSeen || EventTakenByRead) {
            const bool takenByRead = !EventSeen;
            EventSeen = EventTakenByRead = false;
            HandleEventCharLocked(lock, takenByRead);
            continue;
        }
        DevicePtr device = Device;
        if (!device || DeviceFailed || QueueCount == kQueueSize) {
            // Nothing to wait on: Open, Close, Stop, Read and Write wake us.
            Cv.wait(lock);
            continue;
        }
        ReaderInDevice = true;
        lock.unlock();
        const WaitStatus status = device->waitReadable(-1);
        lock.lock();
        ReaderInDevice = false;
        Cv.notify_all();
        if (Device != device) continue; // closed meanwhile
        const size_t queuedBefore = QueueCount;
        switch (status) {
        case WaitStatus::Readable:
        case WaitStatus::Woken:
        case WaitStatus::TimedOut:
            if (!DrainLocked(*device)) DeviceFailed = true;
            break;
        case WaitStatus::HungUp:
        case WaitStatus::Failed:
            DrainLocked(*device);
            DeviceFailed = true;
            break;
        }
        if (DeviceFailed) qCWarning(lcSerialReader) << "serial device" << device->name() << "went away";
        // A waiting download sees every arrival (and a lost device) at once.
        // The bell rings after the lock is released: the woken thread takes
        // the bytes under it and would otherwise wake only to wait for it.
        if ((QueueCount > queuedBefore || DeviceFailed) && WatchArrivals.load() && ArrivalWaker) {
            ThreadNotifier* waker = ArrivalWaker.get();
            // Unlocked, the channel may close the device at once: it must not
            // live on here (a simulated board stays held while it does).
            device.reset();
            lock.unlock();
            waker->notify();
            lock.lock();
        }
    }
    ReaderActive = false;
    Cv.notify_all();
}

void SerialChannel::HandleEventCharLocked(std::unique_lock<std::mutex>& lock, bool takenByRead) {
    qCDebug(lcSerialReader, "IsFun=%d\r\n", IsFun.load());
    qCDebug(lcSerialReader, "IsStop=%d\r\n", IsStop.load());
    qCDebug(lcSerialReader, "rxflag=%d\r\n", 0);
    if (takenByRead) return;
    if (IsStop.load() == 0) {
        if (WriteInProgress) EventDuringWrite = true;
        return;
    }
    IsStop = 0;
    // A waiter that watches arrivals has been woken by them already.
    if (WatchArrivals.load()) return;
    if (const int delay = ReplyDelayMs.load(); delay > 0)
        Cv.wait_for(lock, std::chrono::milliseconds(delay),
                    [&] { return IsFun.load() == 0 || QuitReader || WatchArrivals.load(); });
    if (IsFun.load() == 0 || QuitReader || WatchArrivals.load()) return;
    Notify(lock);
}

void SerialChannel::Notify(std::unique_lock<std::mutex>& lock) {
    if (!PortTestMode.load()) {
        if (SerialDataNotifier) SerialDataNotifier->notify();
        return;
    }
    if (!PortTestNotifier) return;
    auto handshake = std::make_shared<PortTestDataEvent::Handshake>();
    PendingDelivery = handshake;
    PortTestNotifier->notify();
    lock.unlock();
    {
        std::unique_lock wait(handshake->mutex);
        handshake->cv.wait(wait, [&] { return handshake->done || handshake->cancelled; });
    }
    lock.lock();
    if (PendingDelivery == handshake) PendingDelivery.reset();
}

} // namespace talvo
