#include "platform/SerialDevice.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

#include "platform/WireTrace.h"

namespace talvo {

namespace {

uint64_t pack(const LineSettings& s) {
    return static_cast<uint64_t>(s.baud) | (static_cast<uint64_t>(s.parity) << 32) |
           (static_cast<uint64_t>(s.dataBits) << 40) | (static_cast<uint64_t>(s.stopBits) << 48) |
           (uint64_t{1} << 56);
}

LineSettings unpack(uint64_t v) {
    LineSettings s;
    if (!(v >> 56)) return s; // never configured: the defaults
    s.baud = static_cast<uint32_t>(v & 0xffffffffu);
    s.parity = static_cast<uint8_t>((v >> 32) & 0xff);
    s.dataBits = static_cast<uint8_t>((v >> 40) & 0xff);
    s.stopBits = static_cast<uint8_t>((v >> 48) & 0xff);
    return s;
}

} // namespace

QString DeviceStatus::describe() const {
    const QString system = QString::fromLocal8Bit(std::strerror(error));
    if (detail.isEmpty()) return system;
    if (error == 0) return detail;
    return QStringLiteral("%1 (%2)").arg(detail, system);
}

QString DeviceStatus::explainOpenFailure(const QString& port) const {
    QString cause;
    switch (error) {
    case EACCES:
    case EPERM:
        cause = QCoreApplication::translate("DeviceStatus", "没有使用该串口的权限：请把当前用户加入 dialout 组"
                                                     "（sudo usermod -aG dialout $USER），然后重新登录");
        break;
    case EBUSY: cause = QCoreApplication::translate("DeviceStatus", "串口正被占用（另一个程序或驱动正在使用它）"); break;
    case ENOENT:
    case ENODEV:
    case ENXIO: cause = QCoreApplication::translate("DeviceStatus", "串口不存在或已拔出"); break;
    case ENOTTY: cause = QCoreApplication::translate("DeviceStatus", "这不是串口设备"); break;
    default: break;
    }
    const QString system = describe();
    if (cause.isEmpty()) return system.contains(port) ? system : QStringLiteral("%1: %2").arg(port, system);
    return QCoreApplication::translate("DeviceStatus", "%1: %2（系统：%3）").arg(port, cause, system);
}

DeviceStatus DeviceStatus::fromErrno(int error, const QString& detail) {
    DeviceStatus s;
    s.error = error;
    s.detail = detail;
    return s;
}

SerialDevice::~SerialDevice() = default;

DeviceStatus SerialDevice::configure(const LineSettings& settings) {
    DeviceStatus st = doConfigure(settings);
    if (st.ok()) {
        recordSettings(settings);
        if (WireTrace::enabled()) WireTrace::note(Name, QStringLiteral("configured %1").arg(WireTrace::describe(settings)));
    } else if (WireTrace::enabled()) {
        WireTrace::note(Name, QStringLiteral("configuring %1 failed: %2")
                                  .arg(WireTrace::describe(settings), st.describe()));
    }
    return st;
}

void SerialDevice::recordSettings(const LineSettings& settings) {
    PackedSettings.store(pack(settings), std::memory_order_release);
}

LineSettings SerialDevice::settings() const { return unpack(PackedSettings.load(std::memory_order_acquire)); }

DeviceIo SerialDevice::write(const uint8_t* data, size_t n, std::chrono::milliseconds timeout) {
    DeviceIo io = doWrite(data, n, timeout);
    if (WireTrace::enabled()) {
        WireTrace::bytes(Name, "TX", settings(), data, io.count);
        if (!io.ok())
            WireTrace::note(Name, QStringLiteral("write of %1 bytes stopped after %2: %3")
                                      .arg(n)
                                      .arg(io.count)
                                      .arg(QString::fromLocal8Bit(std::strerror(io.error))));
    }
    return io;
}

DeviceIo SerialDevice::read(uint8_t* data, size_t n) {
    DeviceIo io = doRead(data, n);
    if (WireTrace::enabled()) {
        if (io.count > 0) WireTrace::bytes(Name, "RX", settings(), data, io.count);
        if (!io.ok())
            WireTrace::note(Name, QStringLiteral("read failed: %1").arg(QString::fromLocal8Bit(std::strerror(io.error))));
    }
    return io;
}

namespace {
void traceLine(const QString& device, const char* line, bool on, const DeviceStatus& st) {
    if (!WireTrace::enabled()) return;
    WireTrace::note(device, QStringLiteral("%1 %2%3").arg(QLatin1String(line), on ? QStringLiteral("on") : QStringLiteral("off"),
                                                         st.ok() ? QString() : QStringLiteral(" failed: ") + st.describe()));
}
} // namespace

DeviceStatus SerialDevice::setRts(bool on) {
    DeviceStatus st = doSetRts(on);
    traceLine(Name, "RTS", on, st);
    return st;
}

DeviceStatus SerialDevice::setDtr(bool on) {
    DeviceStatus st = doSetDtr(on);
    traceLine(Name, "DTR", on, st);
    return st;
}

DeviceStatus SerialDevice::purge() {
    DeviceStatus st = doPurge();
    if (WireTrace::enabled()) WireTrace::note(Name, QStringLiteral("purge"));
    return st;
}

DeviceIo SerialDevice::bytesHeld() { return doBytesHeld(); }

DeviceStatus SerialDevice::close() {
    DeviceStatus st = doClose();
    if (WireTrace::enabled())
        WireTrace::note(Name, st.ok() ? QStringLiteral("closed") : QStringLiteral("close failed: ") + st.describe());
    return st;
}

void SerialDevice::traceNote(const QString& text) const { WireTrace::note(Name, text); }

} // namespace talvo
