// The simulators on the in-process simulated wire (the serial layer's
// SimWireDevice), in real time: the board wiring of RTS/DTR, the paced
// handshake and a rate switch as a host performs them.
#include <gtest/gtest.h>

#include <thread>

#include "platform/SimWireDevice.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/Stm32Chip.h"

using namespace talvo;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

LineSettings line(uint32_t baud, uint8_t parity) {
    LineSettings s;
    s.baud = baud;
    s.parity = parity;
    return s;
}

void put(SerialDevice& d, const Bytes& b) { ASSERT_TRUE(d.write(b.data(), b.size(), 2000ms).ok()); }

// Reads until `n` bytes came or `limit` passed.
Bytes take(SerialDevice& d, size_t n, std::chrono::milliseconds limit = 3000ms) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
        if (d.waitReadable(20) != WaitStatus::Readable) continue;
        uint8_t buf[256];
        const DeviceIo io = d.read(buf, sizeof buf);
        got.insert(got.end(), buf, buf + io.count);
    }
    return got;
}

// Waits until the host's bytes have left the wire (bounded).
void drain(SimWireDevice& d) {
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (d.busy() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
}

Bytes frame1(const Bytes& payload) {
    Bytes f = {0x46, 0xB9, 0x6A, 0x00, static_cast<uint8_t>(payload.size() + 5)};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned s = 0;
    for (size_t i = 2; i < f.size(); ++i) s += f[i];
    f.push_back(static_cast<uint8_t>(s));
    f.push_back(0x16);
    return f;
}

template <class Chip>
Chip* chipOf(const std::string& selector, std::unique_ptr<sim::SimChip>* owner) {
    std::string err;
    *owner = sim::makeChip(selector, &err);
    EXPECT_TRUE(*owner) << err;
    return dynamic_cast<Chip*>(owner->get());
}

} // namespace

TEST(SimWire, Stc89PowerCycleHandshakeSwitchAndWrite) {
    std::unique_ptr<sim::SimChip> owner;
    auto* chip = chipOf<sim::StcChip>("stc89c52rc,scale=0.2", &owner);
    SimWireDevice dev(QStringLiteral("sim:stc89c52rc"), std::move(owner));
    ASSERT_TRUE(dev.configure(line(1200, 0)).ok());
    ASSERT_TRUE(dev.setRts(true).ok()); // the board cuts the chip's power
    std::this_thread::sleep_for(100ms);
    (void)dev.history(); // orders our reads after the wire thread's calls
    EXPECT_FALSE(chip->powered());
    ASSERT_TRUE(dev.setRts(false).ok());
    Bytes status;
    const auto end = std::chrono::steady_clock::now() + 4s;
    while (status.size() < 59 && std::chrono::steady_clock::now() < end) {
        if (status.empty()) put(dev, {0x7F, 0x7F});
        const Bytes got = take(dev, 59 - status.size(), 14ms);
        status.insert(status.end(), got.begin(), got.end());
    }
    ASSERT_EQ(status.size(), 59u);
    EXPECT_EQ(status[0], 0x68);
    EXPECT_EQ(status[2], 0x3B);
    EXPECT_EQ(chip->bootCount(), 2);
    std::this_thread::sleep_for(50ms);
    dev.purge();

    // 8E with reload FA: the echo comes at 57600, where the chip stays.
    put(dev, frame1({0x8E, 0xFF, 0xFA, 0x00, 0x14, 0x28}));
    drain(dev);
    ASSERT_TRUE(dev.configure(line(57600, 0)).ok());
    EXPECT_EQ(take(dev, 13).size(), 13u);
    put(dev, frame1({0x84, 0x01, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}));
    EXPECT_EQ(take(dev, 8), (Bytes{0x46, 0xB9, 0x68, 0x00, 0x06, 0x80, 0xEE, 0x16}));
    Bytes w = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80};
    w.resize(w.size() + 128, 0x3C);
    put(dev, frame1(w));
    const Bytes ack = take(dev, 9);
    ASSERT_EQ(ack.size(), 9u);
    EXPECT_EQ(ack[6], static_cast<uint8_t>(128 * 0x3C));
    EXPECT_EQ(chip->flash()[127], 0x3C);
    EXPECT_TRUE(chip->rejectedFrames().empty());
    dev.close();
}

TEST(SimWire, Stm32BootPinsAndIdentification) {
    std::unique_ptr<sim::SimChip> owner;
    auto* chip = chipOf<sim::Stm32Chip>("stm32f103", &owner);
    SimWireDevice dev(QStringLiteral("sim:stm32f103"), std::move(owner));
    ASSERT_TRUE(dev.configure(line(115200, 2)).ok());
    // RTS = BOOT0 high, DTR = RESET held; releasing DTR starts the bootloader.
    dev.setRts(true);
    dev.setDtr(true);
    std::this_thread::sleep_for(50ms);
    dev.setDtr(false);
    std::this_thread::sleep_for(50ms);
    put(dev, {0x7F});
    EXPECT_EQ(take(dev, 1), Bytes{0x79});
    put(dev, {0x02, 0xFD});
    EXPECT_EQ(take(dev, 5), (Bytes{0x79, 0x01, 0x04, 0x10, 0x79}));
    // The host's closing sequence: RTS released, DTR asserted: the chip is held in reset.
    dev.setRts(false);
    dev.setDtr(true);
    std::this_thread::sleep_for(50ms);
    (void)dev.history();
    EXPECT_FALSE(chip->powered());
    dev.close();
}
