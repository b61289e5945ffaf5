#pragma once
// A Linux tty (USB serial converter, on-board UART, pseudo-terminal) as a
// SerialDevice: opened non-blocking and exclusively, raw, any baud rate.
//
// A pseudo-terminal carries neither parity nor modem lines: there the
// character size, parity and RTS/DTR requests are skipped with a note in the
// wire trace, so that simulators and test tools on ptys work.

#include <QString>

#include <atomic>
#include <memory>

#include "platform/SerialDevice.h"

namespace talvo {

class PosixTtyDevice final : public SerialDevice {
public:
    // Opens `path`; null with *status set on failure (errno of the step that
    // failed, EBUSY when another program holds the device).
    static std::unique_ptr<PosixTtyDevice> open(const QString& path, DeviceStatus* status);
    ~PosixTtyDevice() override;

    bool isPseudoTerminal() const { return Pty; }

    WaitStatus waitReadable(int timeoutMs) override;
    void wake() override;
    int readableDescriptor() const override { return Fd.load(); }

protected:
    DeviceStatus doConfigure(const LineSettings& settings) override;
    DeviceIo doWrite(const uint8_t* data, size_t n, std::chrono::milliseconds timeout) override;
    DeviceIo doRead(uint8_t* data, size_t n) override;
    DeviceStatus doSetRts(bool on) override;
    DeviceStatus doSetDtr(bool on) override;
    DeviceStatus doPurge() override;
    DeviceIo doBytesHeld() override;
    DeviceStatus doClose() override;

private:
    PosixTtyDevice(const QString& path, int fd, int wakeFd, bool pty);
    // A pseudo-terminal takes bytes at once, where a line would still be
    // carrying them: the rate they go at is the one set when they left, so
    // a new rate or a close waits until a line would be done with them
    // (the other end reads them at the settings of then).
    void waitForPtyLine();
    std::chrono::steady_clock::time_point PtyLineFree{};
    DeviceStatus setModemLine(bool rts, bool on);

    std::atomic<int> Fd;
    int WakeFd;
    bool Pty;
    std::atomic<bool> NotedModemLines{false};
};

} // namespace talvo
