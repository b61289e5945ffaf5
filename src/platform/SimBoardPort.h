#pragma once
// A port onto a simulated board.

#include <memory>

#include "platform/SimWireDevice.h"

namespace talvo {

// A port onto a board that stays connected (a SimWireDevice kept by the
// registry of "sim:" ports): closing the port leaves the board and its chip
// as they are, and the next open finds them so.  One port at a time.
class SimBoardPort final : public SerialDevice {
public:
    // Null with *status set (EBUSY) when the board's port is open already.
    static std::unique_ptr<SimBoardPort> open(const QString& name, std::shared_ptr<SimWireDevice> board,
                                              DeviceStatus* status);
    ~SimBoardPort() override;

    WaitStatus waitReadable(int timeoutMs) override { return Board->waitReadable(timeoutMs); }
    void wake() override { Board->wake(); }
    SimWireDevice& board() { return *Board; }

protected:
    DeviceStatus doConfigure(const LineSettings& s) override {
        DeviceStatus st = Board->doConfigure(s);
        if (st.ok()) Board->recordSettings(s);
        return st;
    }
    DeviceIo doWrite(const uint8_t* d, size_t n, std::chrono::milliseconds t) override { return Board->doWrite(d, n, t); }
    DeviceIo doRead(uint8_t* d, size_t n) override { return Board->doRead(d, n); }
    DeviceStatus doSetRts(bool on) override { return Board->doSetRts(on); }
    DeviceStatus doSetDtr(bool on) override { return Board->doSetDtr(on); }
    DeviceStatus doPurge() override { return Board->doPurge(); }
    DeviceIo doBytesHeld() override { return Board->doBytesHeld(); }
    DeviceStatus doClose() override;

private:
    SimBoardPort(const QString& name, std::shared_ptr<SimWireDevice> board)
        : SerialDevice(name), Board(std::move(board)) {}
    std::shared_ptr<SimWireDevice> Board;
    bool Closed = false;
};

} // namespace talvo
