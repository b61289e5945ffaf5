#pragma once
// One open serial device: a USB/on-board tty, or the host end of an in-process
// simulated wire.  The channel above drives it from two threads:
//   - the reader thread calls waitReadable() and read();
//   - the user-interface thread calls everything else;
//   - wake() may come from any thread and makes a pending or the next
//     waitReadable() return at once.
// Every byte written and read passes through the public entry points of this
// class, which feed the wire trace (WireTrace.h): each backend gets the trace.
//
// Results carry an errno value (0 = success) and, for failures that errno
// alone does not explain, a detail text naming the values involved.

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/Wire.h"

namespace talvo {

struct DeviceStatus {
    int error = 0;       // errno value, 0 on success
    QString detail;      // what went wrong, with the values involved ("" when errno says it all)
    bool ok() const { return error == 0; }
    // "detail (strerror)" or just the system's text.
    QString describe() const;
    // Why `port` could not be opened, for a person: the port, the common
    // causes in the program's language (no permission, with the dialout
    // hint; busy; gone; not a serial device), then the system's own words.
    QString explainOpenFailure(const QString& port) const;
    static DeviceStatus fromErrno(int error, const QString& detail = {});
};

struct DeviceIo {
    size_t count = 0;    // bytes moved
    int error = 0;       // errno value (ETIMEDOUT: only `count` bytes were taken in time)
    bool ok() const { return error == 0; }
};

enum class WaitStatus {
    Readable,  // bytes are waiting
    Woken,     // wake() was called
    TimedOut,
    HungUp,    // the device went away (converter pulled out, pty master closed)
    Failed
};

class SerialDevice {
public:
    virtual ~SerialDevice();

    // The name it was opened by ("/dev/ttyUSB0", "sim:STC89").
    const QString& name() const { return Name; }

    DeviceStatus configure(const LineSettings& settings);
    LineSettings settings() const;

    // Hands `n` bytes to the device and returns when it has taken all of them
    // or `timeout` has passed (error ETIMEDOUT, count = bytes taken).
    DeviceIo write(const uint8_t* data, size_t n, std::chrono::milliseconds timeout);
    // Takes what is there, at most `n` bytes, without waiting; count 0 when
    // nothing is there.  A device that went away reports EIO.
    DeviceIo read(uint8_t* data, size_t n);
    // Waits until bytes can be read, wake() is called, or `timeoutMs` passes
    // (-1: no limit).
    virtual WaitStatus waitReadable(int timeoutMs) = 0;
    virtual void wake() = 0;
    // A descriptor that polls readable while bytes are waiting, for a thread
    // that watches the device in its own event loop; -1 when there is none.
    // Valid until close().
    virtual int readableDescriptor() const { return -1; }

    // Modem control lines.  Backends that cannot carry them (pseudo-terminals)
    // note that in the trace and report success.
    DeviceStatus setRts(bool on);
    DeviceStatus setDtr(bool on);

    // Drops everything held in both directions.
    DeviceStatus purge();
    // Bytes the driver holds for reading.
    DeviceIo bytesHeld();
    // Releases the device; later calls fail with EBADF.  Safe to call twice.
    DeviceStatus close();

protected:
    explicit SerialDevice(QString name) : Name(std::move(name)) {}

    virtual DeviceStatus doConfigure(const LineSettings& settings) = 0;
    virtual DeviceIo doWrite(const uint8_t* data, size_t n, std::chrono::milliseconds timeout) = 0;
    virtual DeviceIo doRead(uint8_t* data, size_t n) = 0;
    virtual DeviceStatus doSetRts(bool on) = 0;
    virtual DeviceStatus doSetDtr(bool on) = 0;
    virtual DeviceStatus doPurge() = 0;
    virtual DeviceIo doBytesHeld() = 0;
    virtual DeviceStatus doClose() = 0;

    // A remark for the trace (settings that could not be applied, ...).
    void traceNote(const QString& text) const;
    // The settings settings() reports, for a device configured by another
    // (a port onto a board).
    void recordSettings(const LineSettings& settings);

private:
    QString Name;
    // Written by configure() on the user-interface thread, read by the reader
    // thread for the trace: kept as one packed word.
    std::atomic<uint64_t> PackedSettings{0};
};

} // namespace talvo
