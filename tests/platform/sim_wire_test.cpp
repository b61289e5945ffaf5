// The simulated wire: pacing at the configured rate, what a peer sees of
// parity and modem lines, garbage at the wrong rate, hang-up and close.
#include <gtest/gtest.h>

#include <atomic>

#include "common/Wait.h"

#include "platform/SimWireDevice.h"
#include "platform/TestPeer.h"

using namespace talvo;
using namespace std::chrono;
using talvo::test::line;
using talvo::test::PeerLog;
using talvo::test::TestPeer;

namespace {

struct Wire {
    std::shared_ptr<PeerLog> log = std::make_shared<PeerLog>();
    std::unique_ptr<SimWireDevice> dev;
    explicit Wire(std::function<void(WireLink&, const PeerLog::Byte&)> answer = {}) {
        log->answer = std::move(answer);
        dev = std::make_unique<SimWireDevice>("sim:test", std::make_unique<TestPeer>(log));
    }
    bool waitPeerBytes(size_t n) {
        return talvo::test::waitUntilWithoutPumping([&] { return log->byteCount() >= n; });
    }
    std::vector<uint8_t> readHost(size_t n) {
        std::vector<uint8_t> out;
        const auto deadline = steady_clock::now() + seconds(20);
        while (out.size() < n && steady_clock::now() < deadline) {
            if (dev->waitReadable(50) != WaitStatus::Readable) continue;
            uint8_t buf[256];
            const DeviceIo io = dev->read(buf, sizeof buf);
            out.insert(out.end(), buf, buf + io.count);
        }
        return out;
    }
};

} // namespace

TEST(SimWire, PacesBytesAtTenOrElevenBitTimes) {
    struct Case {
        LineSettings settings;
        nanoseconds perChar;
    };
    // 8N1: 10 bit times; 8E1: 11 bit times.
    for (const Case& c : {Case{line(9600), nanoseconds(1041667)}, Case{line(4800, 2), nanoseconds(2291667)}}) {
        Wire w([](WireLink&, const PeerLog::Byte&) {}); // no answer
        ASSERT_TRUE(w.dev->configure(c.settings).ok());
        std::vector<uint8_t> data(12);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x40 + i);
        const auto before = WireClock::now();
        ASSERT_TRUE(w.dev->write(data.data(), data.size(), milliseconds(2000)).ok());
        ASSERT_TRUE(w.waitPeerBytes(data.size()));
        const auto after = WireClock::now();
        const auto got = w.log->takeBytes();
        ASSERT_EQ(got.size(), data.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].value, data[i]);
            EXPECT_EQ(got[i].host, c.settings);
            if (i > 0) {
                EXPECT_EQ(got[i].at - got[i - 1].at, c.perChar) << i; // back to back on the line
            }
        }
        EXPECT_GE(got.front().at - before, c.perChar);
        // The last stop bit cannot end before 12 characters' time.
        EXPECT_GE(after - before, 12 * c.perChar);
    }
}

TEST(SimWire, AnswersPassAtTheRightRateAndTurnToGarbageAtTheWrongOne) {
    // The peer always answers at 9600 8N1, whatever the host runs at.
    std::atomic<size_t> answered{0};
    auto fixedAnswer = [&answered](WireLink& link, const PeerLog::Byte& b) {
        link.sendToHost(&b.value, 1, line(9600), b.at);
        ++answered;
    };
    const std::vector<uint8_t> data = {0x46, 0xB9, 0x68, 0x00, 0x16, 0x55, 0xAA};
    {
        Wire w(fixedAnswer);
        ASSERT_TRUE(w.dev->configure(line(9600)).ok());
        ASSERT_TRUE(w.dev->write(data.data(), data.size(), milliseconds(2000)).ok());
        EXPECT_EQ(w.readHost(data.size()), data);
    }
    {
        answered = 0;
        Wire w(fixedAnswer);
        ASSERT_TRUE(w.dev->configure(line(57600)).ok());
        ASSERT_TRUE(w.dev->write(data.data(), data.size(), milliseconds(2000)).ok());
        ASSERT_TRUE(w.waitPeerBytes(data.size()));
        // Every answer has been sent and has crossed the wire.
        ASSERT_TRUE(talvo::test::waitUntilWithoutPumping([&] { return answered == data.size() && !w.dev->busy(); }));
        const auto got = w.readHost(1);
        EXPECT_NE(got, std::vector<uint8_t>(data.begin(), data.begin() + static_cast<long>(got.size())))
            << "a receiver six times too fast samples garbage";
    }
}

TEST(SimWire, ParityReachesThePeerAndAParityMismatchFlagsTheBytes) {
    // The STM32 bootloader needs even parity: the peer sees what the host set.
    Wire w;
    ASSERT_TRUE(w.dev->configure(line(115200, 2)).ok());
    const uint8_t b = 0x7F;
    ASSERT_TRUE(w.dev->write(&b, 1, milliseconds(2000)).ok());
    ASSERT_TRUE(w.waitPeerBytes(1));
    EXPECT_EQ(w.log->takeBytes()[0].host.parity, 2);
    EXPECT_EQ(w.readHost(1), std::vector<uint8_t>{0x7F}) << "echoed with the same framing";

    // The model the wire applies: even parity sent, odd expected.
    const UartChar c = uartReceive(0x7F, line(115200, 2), line(115200, 1));
    EXPECT_TRUE(c.received);
    EXPECT_TRUE(c.parityError || c.framingError);
}

TEST(SimWire, ModemLineChangesReachThePeerWithTheirTimes) {
    Wire w;
    const auto t0 = WireClock::now();
    ASSERT_TRUE(w.dev->setRts(true).ok());
    ASSERT_TRUE(w.dev->setDtr(true).ok());
    // Let 60 ms of wire time pass (the times below must show it).
    ASSERT_TRUE(talvo::test::waitUntilWithoutPumping([&] { return WireClock::now() - t0 >= milliseconds(60); }));
    ASSERT_TRUE(w.dev->setRts(false).ok());
    ASSERT_TRUE(talvo::test::waitUntilWithoutPumping([&] { return w.log->takeLines().size() >= 3; }));
    const auto lines = w.log->takeLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].lines, (ModemLines{true, false}));
    EXPECT_EQ(lines[1].lines, (ModemLines{true, true}));
    EXPECT_EQ(lines[2].lines, (ModemLines{false, true}));
    EXPECT_GE(lines[0].at, t0);
    EXPECT_GE(lines[2].at - lines[0].at, milliseconds(60));
    EXPECT_EQ(w.dev->lines(), (ModemLines{false, true}));

    const auto history = w.dev->history();
    ASSERT_EQ(history.size(), 4u); // open + three line changes
    EXPECT_EQ(history[0].kind, SimWireDevice::Event::Open);
    EXPECT_EQ(history[3].kind, SimWireDevice::Event::Lines);
    EXPECT_EQ(history[3].lines, (ModemLines{false, true}));
}

TEST(SimWire, ConfigurationChangesAreRecordedAndBadOnesRefused) {
    Wire w;
    ASSERT_TRUE(w.dev->configure(line(1200)).ok());
    ASSERT_TRUE(w.dev->configure(line(57600, 2)).ok());
    EXPECT_EQ(w.dev->configure(line(0)).error, EINVAL);
    LineSettings nine = line(9600);
    nine.dataBits = 9;
    EXPECT_EQ(w.dev->configure(nine).error, EINVAL);
    const auto h = w.dev->history();
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h[1].settings, line(1200));
    EXPECT_EQ(h[2].settings, line(57600, 2));
    EXPECT_LE(h[1].at, h[2].at);
    EXPECT_EQ(w.dev->settings(), line(57600, 2));
}

TEST(SimWire, AFullTransmitQueueTimesOutWithTheCountTaken) {
    Wire w([](WireLink&, const PeerLog::Byte&) {});
    ASSERT_TRUE(w.dev->configure(line(1200)).ok());
    std::vector<uint8_t> big(SimWireDevice::kTransmitQueue + 500, 0x55);
    const DeviceIo io = w.dev->write(big.data(), big.size(), milliseconds(100));
    EXPECT_EQ(io.error, ETIMEDOUT);
    EXPECT_GE(io.count, SimWireDevice::kTransmitQueue);
    EXPECT_LT(io.count, big.size());
}

TEST(SimWire, HangUpAndCloseAreSeenByBothEnds) {
    Wire w([](WireLink& link, const PeerLog::Byte& b) {
        link.sendToHost(&b.value, 1, b.host, b.at);
        if (b.value == 0xEE) link.hangUp();
    });
    ASSERT_TRUE(w.dev->configure(line(115200)).ok());
    const uint8_t bytes[] = {0x11, 0xEE};
    ASSERT_TRUE(w.dev->write(bytes, 1, milliseconds(2000)).ok());
    EXPECT_EQ(w.readHost(1), std::vector<uint8_t>{0x11});
    ASSERT_TRUE(w.dev->write(bytes + 1, 1, milliseconds(2000)).ok());
    ASSERT_TRUE(w.waitPeerBytes(2));
    // The converter is gone: its answer in flight is lost, a wait returns at
    // once, reads and writes fail with EIO.
    EXPECT_EQ(w.dev->waitReadable(-1), WaitStatus::HungUp);
    uint8_t buf[4];
    EXPECT_EQ(w.dev->read(buf, 4).error, EIO);
    EXPECT_EQ(w.dev->write(bytes, 1, milliseconds(100)).error, EIO);
    EXPECT_EQ(w.dev->history().back().kind, SimWireDevice::Event::HangUp);

    EXPECT_TRUE(w.dev->close().ok());
    EXPECT_TRUE(w.dev->close().ok()) << "closing twice is harmless";
    EXPECT_EQ(w.dev->read(buf, 4).error, EBADF);
    w.dev.reset();
    EXPECT_EQ(w.log->takeOpens(), (std::vector<bool>{true, false}));
}

TEST(SimWire, ACompletedWriteIsOnTheWireBeforeACloseOrPurgeRightAfterIt) {
    // A frame at 1200 baud needs about 0.1 s on the line; the download closes
    // the port 20 ms after writing it to reopen at the new rate.  The write
    // only completes when the bytes have gone out, so nothing is lost.
    Wire w([](WireLink&, const PeerLog::Byte&) {});
    ASSERT_TRUE(w.dev->configure(line(1200)).ok());
    const std::vector<uint8_t> frame = {0x46, 0xB9, 0x6A, 0x00, 0x0C, 0x8F, 0xFF, 0xFA, 0x00, 0x14, 0x28, 0x81, 0x1E, 0x16};
    const auto before = WireClock::now();
    ASSERT_TRUE(w.dev->write(frame.data(), frame.size(), milliseconds(2000)).ok());
    EXPECT_GE(WireClock::now() - before, frame.size() * line(1200).charTime());
    EXPECT_TRUE(w.dev->purge().ok());
    EXPECT_TRUE(w.dev->close().ok());
    w.dev.reset();
    std::vector<uint8_t> got;
    for (const auto& b : w.log->takeBytes()) got.push_back(b.value);
    EXPECT_EQ(got, frame);
}

TEST(SimWire, UartModelHearsOnlyWithinTheToleranceAndMatchingFraming) {
    const uint8_t byte = 0x7F;
    // Within +-4.5 % the character arrives clean.
    for (uint32_t rx : {1200u, 1150u, 1250u}) {
        const UartChar c = uartReceive(byte, line(1200), line(rx));
        EXPECT_TRUE(c.received && !c.framingError && !c.parityError && c.value == byte) << rx;
    }
    // 5 % off: lost to a framing error even though the sampler may read the bits.
    for (uint32_t rx : {1140u, 1260u}) EXPECT_TRUE(uartReceive(byte, line(1200), line(rx)).framingError) << rx;
    // Half or double the rate: garbage or nothing, never the byte cleanly.
    for (uint32_t rx : {600u, 2400u}) {
        const UartChar c = uartReceive(0x55, line(1200), line(rx));
        EXPECT_TRUE(!c.received || c.framingError || c.value != 0x55) << rx;
    }
    // 8N1 sent to an 8E1 receiver: the stop bit is sampled as parity, so
    // about half of all bytes show a parity error.
    int parityErrors = 0;
    for (int b = 0; b < 256; ++b)
        parityErrors += uartReceive(static_cast<uint8_t>(b), line(9600), line(9600, 2)).parityError ? 1 : 0;
    EXPECT_EQ(parityErrors, 128);
}
