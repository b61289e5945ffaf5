#pragma once
// The program's only path to the hardware: one serial device opened at a
// given rate, parity and event character, written in whole blocks, read on
// demand, and watched by a reader thread that tells a window when the chip
// has answered.
//
// The reader thread moves every received byte into a 1024-byte input queue
// (the driver's queue that Read takes from).  When the event character
// arrives and a write has completed since the last notification (IsStop),
// it sleeps ReplyDelayMs and then notifies:
//   - PortTestMode clear: queues a WM_SERIAL_DATA event for the notify target
//     (the main window), which its event loop delivers on its own thread;
//   - PortTestMode set: delivers a PortTestDataEvent (type WM_PORTTEST_DATA)
//     to the port-test target and waits until the target's thread has
//     handled it (or the channel is stopped).
// The hand-over goes through a ThreadNotifier: the events themselves are made
// and freed on the target's thread.
// Read sleeps ReplyDelayMs once more, so the bytes that arrive in that time
// are read together.
//
// While a download waits for a reply it turns the arrival watch on
// (SetArrivalWatch): then every arrival of bytes wakes the waiting thread's
// event loop at once, and an event character neither waits ReplyDelayMs nor
// notifies -- the waiting code takes the bytes with ReadNow and judges
// itself whether the reply is complete.  A device with a pollable descriptor
// (a tty) is then also watched by the waiting thread's own event loop, so a
// reply wakes that thread straight from the driver, not through the reader.  The delays exist so that one
// notification carries a whole reply; a waiter that assembles the reply from
// every arrival sees it complete as soon as its last byte is in.
//
// All operations except the reader run on the thread that owns the channel.
// The flags the reader shares with it are atomics of the channel; everything
// else the two threads share is guarded by the channel's mutex.  Channels
// share nothing with each other: several work side by side in one process.

#include <QEvent>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/SerialDevice.h"
#include "platform/Wire.h"
#include "serial/PortTestDataEvent.h"

class QSocketNotifier;

namespace talvo {

class SerialDeviceFactory;
class ThreadNotifier;


class SerialChannel {
public:
    static constexpr size_t kQueueSize = 1024;
    static constexpr int kWriteTimeoutMs = 2000;

    // State shared by the channel, its reader and the code that drives it
    // (all zero when the channel is made).  The reader's debug lines print
    // IsFun and IsStop under these names.
    std::atomic<int> IsFun{0};          // the reader keeps running while non-zero
    std::atomic<int> IsStop{0};         // a write ended; cleared by every notification and read
    std::atomic<int> ReplyDelayMs{0};   // pause before every notification and every read
    std::atomic<bool> PortTestMode{false}; // notifications go to the port test target

    // `factory` opens the devices (null: /dev paths and sim: names); the
    // channel does not own it.
    explicit SerialChannel(SerialDeviceFactory* factory = nullptr);
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    void setDeviceFactory(SerialDeviceFactory* factory);
    // Targets of the notifications; they must outlive the channel or be
    // replaced (null) first.
    void setNotifyTarget(QObject* mainWindow);
    void setPortTestTarget(QObject* portTestWindow);
    // Shows "串口关闭失败" when the device cannot be closed (null: no message).
    void setMessageSink(std::function<void(const QString&)> showMessage);

    // Opens `port` (a device path, a name under /dev, or "sim:CHIP") with
    // parity 0-4 and stop bits 0-2 as in the Windows DCB; closes the open one
    // first.  False leaves the channel closed; LastError() says why.
    bool Open(const QString& port, uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits,
              uint8_t eventChar);
    // Sets rate, framing and event character of the open device again; lowers
    // RTS and DTR.  On failure the device is closed.
    bool Configure(uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits, uint8_t eventChar);
    // 1 when the channel was open and the write was issued, 0 otherwise.
    // Waits up to 2000 ms for the device to take the bytes; sets IsStop when
    // it did (or the write failed at once), leaves it when time ran out.
    int Write(const uint8_t* bytes, size_t count);
    // Sleeps ReplyDelayMs; returns 0 (buffer untouched) when nothing is held;
    // otherwise zero-fills the first 1024 bytes of `buffer` (or all of a
    // shorter one), takes min(held, maximum, capacity) bytes, leaves the rest
    // queued, clears IsStop and returns the count.
    unsigned Read(uint8_t* buffer, size_t capacity, unsigned maximum);
    unsigned Read(QByteArray& buffer, unsigned maximum);
    // As Read, without the reply delay: what has arrived, at once.
    unsigned ReadNow(QByteArray& buffer, unsigned maximum);
    // Non-zero on success, also when nothing was open.  The reader stays
    // alive for the next Open.
    int Close();
    // Clears IsFun, wakes and releases the reader, closes the device; returns
    // the result of closing (0 when nothing was open).  Does not wait for the
    // reader to end.
    int Stop();
    // Starts the reader thread after the previous one (if any) has ended.
    void StartReader();
    // Turns the arrival watch on or off (see above).  Call it on the thread
    // that waits; the first call makes the waker there.
    void SetArrivalWatch(bool on);

    // The modem control lines of the open device.
    bool SetRts(bool on);
    bool SetDtr(bool on);

    bool IsOpen() const { return OpenFlag; }
    QString PortName() const;
    LineSettings Settings() const;
    uint8_t EventChar() const { return EvtChar.load(); }
    // Why the last Open/Configure/Close failed.
    DeviceStatus LastError() const { return LastStatus; }
    // Bytes waiting in the input queue.
    size_t QueuedBytes() const;
    bool ReaderRunning() const;
    // The open device went away (hung up, unplugged); reads and writes fail.
    bool DeviceLost() const;
    // The reader has handed a port-test event over and waits for it to be
    // handled (or given up).
    bool DeliveryPending() const;

private:
    using DevicePtr = std::shared_ptr<SerialDevice>;

    void ReaderThread();
    // Moves what the device holds into the queue, as far as it has room;
    // notes the event character.  Caller holds Mutex.  False when the device
    // failed (hung up).
    bool DrainLocked(SerialDevice& device);
    void HandleEventCharLocked(std::unique_lock<std::mutex>& lock, bool takenByRead);
    void Notify(std::unique_lock<std::mutex>& lock);
    // Takes the device away from the reader and waits until the reader no
    // longer uses it.
    DevicePtr DetachDevice();
    void EndReader();
    void CancelDeliveryLocked();
    unsigned ReadQueued(uint8_t* buffer, size_t capacity, unsigned maximum, bool delay);
    // Moves what `device` holds into the queue for the thread that reads it;
    // an event character among the bytes is left to the reader to log only.
    // Caller holds Mutex.  Whether the reader is to be woken for that.
    bool TakeArrivalsLocked(SerialDevice& device);
    // Stops watching the device's descriptor (before the device closes).
    void DropDirectWatch();

    SerialDeviceFactory* Factory = nullptr;
    std::unique_ptr<SerialDeviceFactory> OwnedFactory;
    std::function<void(const QString&)> ShowMessage;
    bool OpenFlag = false;      // user-interface thread only
    DeviceStatus LastStatus;    // user-interface thread only
    std::atomic<uint8_t> EvtChar{0};

    mutable std::mutex Mutex;
    std::condition_variable Cv;
    DevicePtr Device;                 // the open device, or null
    bool DeviceFailed = false;        // it hung up: the reader stops waiting on it
    bool ReaderInDevice = false;      // the reader is inside waitReadable/read
    bool ReaderActive = false;        // a reader thread is running
    bool QuitReader = false;          // ends the current reader (StartReader, destructor)
    bool EventSeen = false;           // the event character arrived, not yet handled
    // A read took an event character before the reader saw it: the reader
    // only logs it (the read cleared IsStop, and a write completed after the
    // read must not be credited with it).
    bool EventTakenByRead = false;
    bool WriteInProgress = false;
    bool EventDuringWrite = false;
    std::array<uint8_t, kQueueSize> Queue{};
    size_t QueueHead = 0;
    size_t QueueCount = 0;
    QObject* NotifyTarget = nullptr;
    QObject* PortTestTarget = nullptr;
    // Wake the targets' thread from the reader (created on that thread).
    std::unique_ptr<ThreadNotifier> SerialDataNotifier;
    std::unique_ptr<ThreadNotifier> PortTestNotifier;
    // Wakes the thread that watches arrivals (created on that thread).
    std::unique_ptr<ThreadNotifier> ArrivalWaker;
    std::atomic<bool> WatchArrivals{false};
    // The waiting thread's watch on the device's descriptor (that thread only).
    std::unique_ptr<QSocketNotifier> DirectWatch;
    std::shared_ptr<PortTestDataEvent::Handshake> PendingDelivery;

    std::thread Reader;
};

} // namespace talvo
