#include "serial/SerialTerminal.h"

#include <QCoreApplication>

#include <pthread.h>

#include <cerrno>

#include "platform/PortClaims.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "platform/ThreadNotifier.h"
#include "platform/WireTrace.h"

namespace talvo {

SerialTerminal::SerialTerminal(SerialDeviceFactory* factory, QObject* parent, QString devRoot)
    : QObject(parent), Factory(factory), DevRoot(std::move(devRoot)) {
    if (!Factory) {
        OwnedFactory = std::make_unique<SystemSerialDeviceFactory>(DevRoot);
        Factory = OwnedFactory.get();
    }
    DataBell = std::make_unique<ThreadNotifier>([this] { emit dataReady(); }, this);
    SentBell = std::make_unique<ThreadNotifier>([this] { emit sent(); }, this);
    FailBell = std::make_unique<ThreadNotifier>([this] {
        QString reason;
        {
            std::lock_guard lock(Mutex);
            reason = FailReason;
        }
        emit failed(reason);
    }, this);
}

SerialTerminal::~SerialTerminal() {
    close();
    // The bells are children of this object but must go before the members
    // their handlers use.
    DataBell.reset();
    SentBell.reset();
    FailBell.reset();
}

QString SerialTerminal::portName() const { return Device ? Device->name() : QString(); }

LineSettings SerialTerminal::settings() const { return Device ? Device->settings() : LineSettings{}; }

QString SerialTerminal::HolderName() { return QCoreApplication::translate("SerialTerminal", "串口调试助手"); }

bool SerialTerminal::open(const QString& port, const LineSettings& settings, bool rts, bool dtr, QString* error) {
    close();
    RefusedInUse = false;
    QString heldBy;
    const QString key = port.isEmpty() ? QString() : Factory->claimKey(port);
    if (!key.isEmpty() && !claimPort(key, this, HolderName(), &heldBy)) {
        RefusedInUse = true;
        if (error) *error = portBusyText(port, heldBy);
        return false;
    }
    ClaimedKey = key;
    DeviceStatus status;
    std::unique_ptr<SerialDevice> device = Factory->open(port, &status);
    if (!device) {
        if (error) *error = QCoreApplication::translate("SerialTerminal", "无法打开 %1").arg(status.explainOpenFailure(port));
        releaseClaim();
        return false;
    }
    status = device->configure(settings);
    if (status.ok()) status = device->setRts(rts);
    if (status.ok()) status = device->setDtr(dtr);
    if (!status.ok()) {
        if (error) *error = QCoreApplication::translate("SerialTerminal", "%1 不能设为 %2：%3").arg(port, WireTrace::describe(settings), status.describe());
        device->close();
        releaseClaim();
        return false;
    }
    {
        std::lock_guard lock(Mutex);
        Quit = false;
        Held = {};
        Pending.clear();
        PendingBytes = 0;
        FailReason.clear();
    }
    Device = std::shared_ptr<SerialDevice>(std::move(device));
    Reader = std::thread([this, d = Device] { readerLoop(d); });
    Writer = std::thread([this, d = Device] { writerLoop(d); });
    return true;
}

void SerialTerminal::releaseClaim() {
    if (ClaimedKey.isEmpty()) return;
    releasePort(ClaimedKey, this);
    ClaimedKey.clear();
}

void SerialTerminal::close() {
    if (!Device) {
        releaseClaim();
        return;
    }
    {
        std::lock_guard lock(Mutex);
        Quit = true;
        Pending.clear();
        PendingBytes = 0;
    }
    WriterCv.notify_all();
    Device->wake();
    if (Reader.joinable()) Reader.join();
    if (Writer.joinable()) Writer.join();
    Device->purge();
    Device->close();
    Device.reset();
    releaseClaim();
}

bool SerialTerminal::setRts(bool on, QString* error) {
    if (!Device) return false;
    const DeviceStatus s = Device->setRts(on);
    if (!s.ok() && error) *error = QStringLiteral("%1: RTS: %2").arg(Device->name(), s.describe());
    return s.ok();
}

bool SerialTerminal::setDtr(bool on, QString* error) {
    if (!Device) return false;
    const DeviceStatus s = Device->setDtr(on);
    if (!s.ok() && error) *error = QStringLiteral("%1: DTR: %2").arg(Device->name(), s.describe());
    return s.ok();
}

bool SerialTerminal::send(const QByteArray& bytes) {
    if (!Device) return false;
    if (bytes.isEmpty()) return true;
    {
        std::lock_guard lock(Mutex);
        if (PendingBytes + bytes.size() > kMaxPending) return false;
        Pending.push_back(bytes);
        PendingBytes += bytes.size();
    }
    WriterCv.notify_all();
    return true;
}

qsizetype SerialTerminal::pendingSend() const {
    std::lock_guard lock(Mutex);
    return PendingBytes;
}

QByteArray SerialTerminal::takeReceived() { return takeReceivedTimed().bytes; }

TimedBytes SerialTerminal::takeReceivedTimed() {
    std::lock_guard lock(Mutex);
    TimedBytes out;
    std::swap(out, Held);
    return out;
}

void SerialTerminal::resetCounters() {
    RxCount = 0;
    TxCount = 0;
    Dropped = 0;
}

void SerialTerminal::fail(const QString& reason) {
    {
        std::lock_guard lock(Mutex);
        if (!FailReason.isEmpty()) return; // one report per failure
        FailReason = reason;
    }
    FailBell->notify();
}

void SerialTerminal::readerLoop(std::shared_ptr<SerialDevice> device) {
    pthread_setname_np(pthread_self(), "talvo-term-rx");
    static constexpr size_t kChunk = 64 * 1024;
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunk]);
    for (;;) {
        {
            std::lock_guard lock(Mutex);
            if (Quit) return;
        }
        const WaitStatus status = device->waitReadable(-1);
        bool hungUp = status == WaitStatus::HungUp || status == WaitStatus::Failed;
        // Take everything held now, in chunks, and hand it over as one batch.
        for (;;) {
            const DeviceIo io = device->read(chunk.get(), kChunk);
            if (io.count > 0) {
                // Stamped as they are read: the time a line shows is when its
                // bytes came, however late the window gets to them.
                const QTime arrived = QTime::currentTime();
                bool ring = false;
                {
                    std::lock_guard lock(Mutex);
                    ring = Held.isEmpty();
                    Held.append(reinterpret_cast<const char*>(chunk.get()), static_cast<qsizetype>(io.count), arrived);
                    if (Held.size() > kMaxHeld) {
                        const qsizetype drop = Held.size() - kMaxHeld;
                        Held.dropFront(drop);
                        Dropped += static_cast<uint64_t>(drop);
                    }
                }
                RxCount += io.count;
                if (ring) DataBell->notify();
            }
            if (!io.ok()) {
                hungUp = true;
                break;
            }
            if (io.count == 0) break;
        }
        if (hungUp) {
            std::lock_guard lock(Mutex);
            if (Quit) return;
        }
        if (hungUp) {
            fail(QCoreApplication::translate("SerialTerminal", "%1 已断开（设备被拔出或被关闭）").arg(device->name()));
            return;
        }
    }
}

void SerialTerminal::writerLoop(std::shared_ptr<SerialDevice> device) {
    pthread_setname_np(pthread_self(), "talvo-term-tx");
    for (;;) {
        QByteArray chunk;
        {
            std::unique_lock lock(Mutex);
            WriterCv.wait(lock, [&] { return Quit || !Pending.empty(); });
            if (Quit) return;
            chunk = std::move(Pending.front());
            Pending.pop_front();
        }
        qsizetype done = 0;
        while (done < chunk.size()) {
            const DeviceIo io = device->write(reinterpret_cast<const uint8_t*>(chunk.constData()) + done,
                                              static_cast<size_t>(chunk.size() - done),
                                              std::chrono::milliseconds(kWriteSliceMs));
            done += static_cast<qsizetype>(io.count);
            TxCount += io.count;
            {
                std::lock_guard lock(Mutex);
                PendingBytes -= static_cast<qsizetype>(io.count);
                if (Quit) return;
            }
            if (io.count > 0) SentBell->notify();
            if (!io.ok() && io.error != ETIMEDOUT) {
                fail(QCoreApplication::translate("SerialTerminal", "%1 写入失败：%2").arg(device->name(), DeviceStatus::fromErrno(io.error).describe()));
                return;
            }
        }
    }
}

} // namespace talvo
