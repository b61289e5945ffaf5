#pragma once
// The serial terminal's link: one port opened through the serial device layer
// (ttys and sim: ports, with the wire trace), a reader thread that collects
// every byte received and a writer thread that hands queued bytes to the
// device, so the user-interface thread never waits on the wire.
//
// The threads hand news over through ThreadNotifiers: dataReady() when bytes
// arrived while none were waiting (one signal per batch, however many bytes),
// sent() when the writer finished a chunk, failed() when the device went
// away.  takeReceived() collects the batch on the user-interface thread.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/SerialDevice.h"
#include "platform/Wire.h"
#include "serial/TerminalFormatter.h"

namespace talvo {

class SerialDeviceFactory;
class ThreadNotifier;

class SerialTerminal : public QObject {
    Q_OBJECT
public:
    // Received bytes not yet taken are kept up to this many; beyond it the
    // oldest are dropped and counted (a window that stopped taking them).
    static constexpr qsizetype kMaxHeld = 64 * 1024 * 1024;
    // Bytes queued for sending beyond this are refused.
    static constexpr qsizetype kMaxPending = 16 * 1024 * 1024;
    // How long one write may wait for the device to take a chunk before the
    // writer looks at its quit flag again.
    static constexpr int kWriteSliceMs = 200;

    // `factory` opens the devices (null: /dev paths and sim: names); not owned.
    // Bare port names live under `devRoot` ("" = /dev).
    explicit SerialTerminal(SerialDeviceFactory* factory = nullptr, QObject* parent = nullptr,
                            QString devRoot = QString());
    ~SerialTerminal() override;

    // Opens `port` with `settings` and the two lines as given; false with
    // *error naming the port, the settings and the system's reason.  A port
    // that a download or the port test of this process holds is refused
    // before it is touched (refusedInUse() then says so); the terminal holds
    // the port it opened until close().
    bool open(const QString& port, const LineSettings& settings, bool rts, bool dtr, QString* error);
    bool refusedInUse() const { return RefusedInUse; }
    // What the terminal is called in a refusal.
    static QString HolderName();
    // Stops both threads and closes the device; bytes not yet sent are dropped.
    void close();
    bool isOpen() const { return static_cast<bool>(Device); }
    QString portName() const;
    LineSettings settings() const;

    bool setRts(bool on, QString* error = nullptr);
    bool setDtr(bool on, QString* error = nullptr);

    // Queues bytes for the writer; false when closed or too much is pending.
    bool send(const QByteArray& bytes);
    // The bytes received since the last call.
    QByteArray takeReceived();
    // The same with the times they arrived (taken by the reader as it read
    // them, not when they are shown).
    TimedBytes takeReceivedTimed();
    qsizetype pendingSend() const;

    uint64_t receivedCount() const { return RxCount.load(); }
    uint64_t sentCount() const { return TxCount.load(); }
    uint64_t droppedCount() const { return Dropped.load(); }
    void resetCounters();

signals:
    void dataReady();
    void sent();
    void failed(const QString& reason);

private:
    void releaseClaim();
    void readerLoop(std::shared_ptr<SerialDevice> device);
    void writerLoop(std::shared_ptr<SerialDevice> device);
    void fail(const QString& reason);

    SerialDeviceFactory* Factory = nullptr;
    std::unique_ptr<SerialDeviceFactory> OwnedFactory;
    QString DevRoot;
    QString ClaimedKey;        // the claim key of the port this terminal holds ("" = none)
    bool RefusedInUse = false;
    std::shared_ptr<SerialDevice> Device; // user-interface thread only

    mutable std::mutex Mutex;
    std::condition_variable WriterCv;
    bool Quit = false;
    TimedBytes Held;                 // received, not yet taken
    std::deque<QByteArray> Pending;  // to send
    qsizetype PendingBytes = 0;
    QString FailReason;
    std::atomic<uint64_t> RxCount{0};
    std::atomic<uint64_t> TxCount{0};
    std::atomic<uint64_t> Dropped{0};

    std::unique_ptr<ThreadNotifier> DataBell;
    std::unique_ptr<ThreadNotifier> SentBell;
    std::unique_ptr<ThreadNotifier> FailBell;
    std::thread Reader;
    std::thread Writer;
};

} // namespace talvo
