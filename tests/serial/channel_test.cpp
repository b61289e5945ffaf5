// SerialChannel: notification rules, reads, close/stop, reader lifetime,
// reply delay, port-test delivery, hang-up; on simulated wires and ptys.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include "common/Wait.h"
#include "platform/PtyPair.h"
#include "serial/ChannelTestKit.h"
#include "serial/SerialChannel.h"

using namespace talvo;
using namespace talvo::test;
using namespace std::chrono;

namespace {

struct ChannelFixture : ::testing::Test {
    TestFactory factory;
    EventTarget target;
    SerialChannel channel{&factory};

    void SetUp() override { channel.setNotifyTarget(&target); }
    void TearDown() override { channel.Stop(); }
    bool openSim(uint32_t baud = 115200, uint8_t eventChar = 0x68) {
        return channel.Open("sim:echo", baud, 0, 8, 0, eventChar);
    }
    int write(std::vector<uint8_t> bytes) { return channel.Write(bytes.data(), bytes.size()); }
    bool queued(size_t n) {
        return pumpUntil([&] { return channel.QueuedBytes() >= n; });
    }
};

// Ends a wait for a wake-up that never comes: the only timer of the loop.
struct SafetyNet {
    bool fired = false;
    QTimer timer;
    SafetyNet() {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { fired = true; });
        timer.start(20000);
    }
};

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST_F(ChannelFixture, TheEventCharacterWakesTheWindowOncePerCompletedWrite) {
    ASSERT_TRUE(openSim());
    channel.StartReader();
    EXPECT_EQ(channel.IsFun.load(), 1);

    // The echoed frame carries the event character twice: one notification.
    EXPECT_EQ(write({0x46, 0x68, 0x00, 0x68}), 1);
    ASSERT_TRUE(pumpUntil([&] { return target.serialData == 1; }));
    pumpFor(milliseconds(200));
    EXPECT_EQ(target.serialData, 1);
    EXPECT_EQ(channel.IsStop.load(), 0) << "the notification clears IsStop";

    uint8_t buffer[1024];
    ASSERT_TRUE(queued(4));
    ASSERT_EQ(channel.Read(buffer, sizeof buffer, 1024), 4u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{0x46, 0x68, 0x00, 0x68}));

    EXPECT_EQ(write({0x68}), 1);
    ASSERT_TRUE(pumpUntil([&] { return target.serialData == 2; }));
    pumpFor(milliseconds(100));
    EXPECT_EQ(target.serialData, 2);
}

TEST_F(ChannelFixture, WithoutACompletedWriteTheEventCharacterDoesNotNotify) {
    ASSERT_TRUE(openSim());
    channel.StartReader();
    factory.inject({0x79, 0x68, 0x68}, line(115200));
    ASSERT_TRUE(queued(3));
    pumpFor(milliseconds(200));
    EXPECT_EQ(target.serialData, 0);
    uint8_t buffer[1024];
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 3u) << "the bytes are there to read all the same";
}

TEST_F(ChannelFixture, ReadsTakeWhatIsHeldUpToTheLimitAndLeaveTheRest) {
    ASSERT_TRUE(openSim());
    channel.StartReader();
    uint8_t buffer[1100];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);

    // Nothing held: 0, buffer untouched.
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 0u);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](uint8_t b) { return b == 0xAA; }));

    factory.inject({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, line(115200));
    ASSERT_TRUE(queued(10));
    channel.IsStop = 1;
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 4), 4u);
    EXPECT_EQ(channel.IsStop.load(), 0) << "a read clears IsStop";
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(std::all_of(buffer + 4, buffer + 1024, [](uint8_t b) { return b == 0; })) << "1024 bytes zero-filled";
    EXPECT_TRUE(std::all_of(buffer + 1024, buffer + 1100, [](uint8_t b) { return b == 0xAA; })) << "and no more";
    EXPECT_EQ(channel.QueuedBytes(), 6u);

    // A short buffer is never overrun, whatever the limit says.
    uint8_t small[3];
    EXPECT_EQ(channel.Read(small, sizeof small, 1000), 3u);
    EXPECT_EQ(std::vector<uint8_t>(small, small + 3), (std::vector<uint8_t>{5, 6, 7}));
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1000), 3u);
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1000), 0u);
}

TEST_F(ChannelFixture, TheInputQueueHolds1024BytesAndLosesNothingBeyond) {
    ASSERT_TRUE(openSim());
    channel.StartReader();
    std::vector<uint8_t> many(1500);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i % 251);
    factory.inject(many, line(115200));
    ASSERT_TRUE(queued(SerialChannel::kQueueSize));
    std::vector<uint8_t> got;
    uint8_t buffer[1024];
    ASSERT_TRUE(pumpUntil([&] {
        const unsigned n = channel.Read(buffer, sizeof buffer, 1024);
        got.insert(got.end(), buffer, buffer + n);
        return got.size() >= many.size();
    }));
    EXPECT_EQ(got, many);
}

TEST_F(ChannelFixture, CloseAndStopOnAClosedChannel) {
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_EQ(factory.opened, 0);
    channel.IsFun = 1;
    channel.IsStop = 1;
    EXPECT_EQ(channel.Stop(), 0) << "closing no device fails without effect";
    EXPECT_EQ(channel.IsFun.load(), 0);
    EXPECT_EQ(channel.IsStop.load(), 0);
    EXPECT_FALSE(channel.IsOpen());
    const uint8_t b = 1;
    EXPECT_EQ(channel.Write(&b, 1), 0);
    uint8_t buffer[1024];
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 0u);
    EXPECT_FALSE(channel.SetRts(true));
}

TEST_F(ChannelFixture, CloseKeepsTheReaderForTheNextOpenAndStopEndsIt) {
    ASSERT_TRUE(openSim(1200));
    channel.StartReader();
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_TRUE(channel.ReaderRunning());
    EXPECT_EQ(channel.IsFun.load(), 1);

    ASSERT_TRUE(openSim(57600, 0x16));
    EXPECT_EQ(channel.Settings(), line(57600));
    EXPECT_EQ(write({0x16}), 1);
    ASSERT_TRUE(pumpUntil([&] { return target.serialData == 1; })) << "the old reader waits on the new device";

    EXPECT_EQ(channel.Stop(), 1);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_TRUE(pumpUntil([&] { return !channel.ReaderRunning(); }));
    EXPECT_EQ(factory.log->takeOpens(), (std::vector<bool>{true, false, true, false}));
}

TEST_F(ChannelFixture, ASecondStartReaderReplacesTheFirst) {
    ASSERT_TRUE(openSim());
    channel.StartReader();
    channel.StartReader();
    EXPECT_EQ(write({0x68}), 1);
    ASSERT_TRUE(pumpUntil([&] { return target.serialData == 1; }));
    pumpFor(milliseconds(200));
    EXPECT_EQ(target.serialData, 1) << "one reader, one notification";
}

TEST_F(ChannelFixture, ReplyDelayIsWaitedBeforeTheNotificationAndAgainInRead) {
    ASSERT_TRUE(openSim(115200, 0x79));
    channel.StartReader();
    channel.ReplyDelayMs = 120;
    const auto sent = steady_clock::now();
    EXPECT_EQ(write({0x79, 0x01, 0x02}), 1);
    ASSERT_TRUE(pumpUntil([&] { return target.serialData == 1; }));
    const auto notified = steady_clock::now();
    EXPECT_GE(notified - sent, milliseconds(120));
    uint8_t buffer[1024];
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 3u) << "bytes after the event character come along";
    EXPECT_GE(steady_clock::now() - notified, milliseconds(120));
}

TEST_F(ChannelFixture, OpenFailuresLeaveTheChannelClosedWithTheReason) {
    EXPECT_FALSE(channel.Open("sim:missing", 9600, 0, 8, 0, 0x68));
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.LastError().error, ENOENT);
    EXPECT_TRUE(channel.LastError().describe().contains("sim:missing"));

    // A setting the device refuses closes it again.
    EXPECT_FALSE(channel.Open("sim:echo", 0, 0, 8, 0, 0x68));
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.LastError().error, EINVAL);
    EXPECT_EQ(factory.log->takeOpens(), (std::vector<bool>{true, false}));
}

TEST_F(ChannelFixture, ConfigureLowersTheModemLinesThatTheProtocolRaised) {
    ASSERT_TRUE(openSim(1200));
    EXPECT_TRUE(channel.SetRts(true));
    EXPECT_TRUE(channel.SetDtr(true));
    ASSERT_TRUE(channel.Configure(2400, 2, 8, 0, 0x16));
    EXPECT_EQ(channel.Settings(), line(2400, 2));
    EXPECT_EQ(channel.EventChar(), 0x16);
    // Open: RTS low, DTR low, RTS low; then RTS high, DTR high; Configure:
    // DTR low, RTS low.
    ASSERT_TRUE(pumpUntil([&] { return factory.log->takeLines().size() >= 7; }));
    const auto lines = factory.log->takeLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[lines.size() - 3].lines, (ModemLines{true, true}));
    EXPECT_EQ(lines.back().lines, (ModemLines{false, false}));
}

TEST_F(ChannelFixture, ADeviceThatHangsUpMidReadNeitherHangsNorSpins) {
    factory.log->answer = [](WireLink& link, const PeerLog::Byte& b) {
        link.sendToHost(&b.value, 1, b.host, b.at);
        if (b.value == 0xEE) link.hangUp();
    };
    ASSERT_TRUE(openSim());
    channel.StartReader();
    EXPECT_EQ(write({0x01, 0x02}), 1);
    ASSERT_TRUE(queued(2));
    EXPECT_EQ(write({0xEE}), 1);
    ASSERT_TRUE(pumpUntil([&] { return factory.log->byteCount() == 3; }));

    const double cpuBefore = cpuSeconds();
    pumpFor(milliseconds(400));
    EXPECT_LT(cpuSeconds() - cpuBefore, 0.3) << "the reader must not spin on a dead device";
    EXPECT_EQ(target.serialData, 0);

    uint8_t buffer[1024];
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 2u);
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 0u);
    EXPECT_EQ(write({0x68}), 1) << "the write is issued and fails; nothing answers";
    pumpFor(milliseconds(100));
    EXPECT_EQ(target.serialData, 0);
    channel.Stop();
    EXPECT_TRUE(pumpUntil([&] { return !channel.ReaderRunning(); }));
}

TEST_F(ChannelFixture, PortTestModeDeliversSynchronouslyToThePortTestTarget) {
    EventTarget portTest;
    channel.setPortTestTarget(&portTest);
    unsigned got = 0;
    portTest.onPortTestData = [&] {
        uint8_t buffer[1024];
        got = channel.Read(buffer, sizeof buffer, 512);
    };
    channel.PortTestMode = true;
    ASSERT_TRUE(channel.Open("sim:echo", 9600, 0, 8, 0, 0xE2));
    channel.StartReader();
    EXPECT_EQ(write({0x01, 0xE2}), 1);
    ASSERT_TRUE(pumpUntil([&] { return portTest.portTestData == 1; }));
    EXPECT_EQ(target.serialData, 0) << "the main window hears nothing in port-test mode";
    EXPECT_GE(got, 1u);

    // A delivery nobody handles does not keep Stop or the next StartReader
    // waiting for ever.
    EXPECT_EQ(write({0xE2}), 1);
    // The reader delivers and waits; the queue is not pumped.
    ASSERT_TRUE(waitUntilWithoutPumping([&] { return channel.DeliveryPending(); }));
    channel.Stop();
    channel.StartReader();
    channel.Stop();
    pumpFor(milliseconds(50));
    EXPECT_LE(portTest.portTestData, 2);
}


TEST_F(ChannelFixture, AnAnswerThatOvertakesTheWriteCompletionStillNotifies) {
    factory.custom = [](const QString&) {
        auto dev = std::make_unique<ScriptedDevice>();
        dev->answerInWrite = 0x79; // the answer arrives before the write reports completion
        return dev;
    };
    ASSERT_TRUE(channel.Open("sim:overtaking", 115200, 2, 8, 0, 0x79));
    channel.StartReader();
    EXPECT_EQ(write({0x7F}), 1);
    ASSERT_TRUE(pumpUntil([&] { return target.serialData == 1; }));
    pumpFor(milliseconds(100));
    EXPECT_EQ(target.serialData, 1);
}

TEST_F(ChannelFixture, AnEventCharacterTakenByAReadIsNotCreditedToTheNextWrite) {
    ScriptedDevice* device = nullptr;
    factory.custom = [&](const QString&) {
        auto dev = std::make_unique<ScriptedDevice>();
        dev->quietRx = true;
        dev->holdWakes();
        device = dev.get();
        return dev;
    };
    ASSERT_TRUE(channel.Open("sim:slow-reader", 115200, 0, 8, 0, 0x79));
    channel.StartReader();
    // The answer is there before the reader has seen it; the read takes it.
    device->feed(0x79);
    uint8_t buffer[1024];
    ASSERT_EQ(channel.Read(buffer, sizeof buffer, 1024), 1u);
    // The next frame goes out before the reader gets round to the event
    // character the read found: it arrived before the write, so no
    // notification.
    EXPECT_EQ(write({0x7F}), 1);
    // Now the reader gets round to it; once it waits again it has judged it.
    const int waits = device->waitsBegun();
    device->releaseWakes();
    ASSERT_TRUE(waitUntilWithoutPumping([&] { return device->waitsBegun() > waits; }));
    pumpFor(milliseconds(100));
    EXPECT_EQ(target.serialData, 0);
}

TEST_F(ChannelFixture, OverAPtyAFrameAt28800AndAt1000IsReadBackByteForByte) {
    for (uint32_t baud : {28800u, 1000u}) {
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(channel.Open(pty.slavePath, baud, 0, 8, 0, 0x68)) << channel.LastError().describe().toStdString();
        channel.StartReader();
        std::vector<uint8_t> frame = {0x46, 0xB9, 0x6A, 0x00, 0x8C, 0x00, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x16};
        for (int i = 0; i < 116; ++i) frame.push_back(static_cast<uint8_t>(i * 7));
        EXPECT_EQ(channel.Write(frame.data(), frame.size()), 1);
        EXPECT_EQ(pty.readMaster(frame.size()), frame) << baud;

        const int before = target.serialData;
        const std::vector<uint8_t> reply = {0x46, 0xB9, 0x68, 0x00, 0x07, 0x80, 0x00, 0xEF, 0x16};
        ASSERT_TRUE(pty.writeMaster(reply));
        ASSERT_TRUE(pumpUntil([&] { return target.serialData == before + 1; })) << baud;
        ASSERT_TRUE(queued(reply.size()));
        uint8_t buffer[1024];
        ASSERT_EQ(channel.Read(buffer, sizeof buffer, 1024), reply.size());
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + reply.size()), reply);
        channel.Stop();
    }
}

TEST_F(ChannelFixture, APtyWhoseOtherEndClosesMidReadNeitherHangsNorSpins) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(channel.Open(pty.slavePath, 9600, 0, 8, 0, 0x68));
    channel.StartReader();
    EXPECT_EQ(channel.Write(reinterpret_cast<const uint8_t*>("\x7f"), 1), 1);
    ASSERT_TRUE(pty.writeMaster({0x46, 0xB9}));
    ASSERT_TRUE(queued(2));
    pty.closeMaster();
    const double cpuBefore = cpuSeconds();
    pumpFor(milliseconds(400));
    EXPECT_LT(cpuSeconds() - cpuBefore, 0.3) << "the reader must not spin on a hung-up tty";
    EXPECT_EQ(target.serialData, 0);
    uint8_t buffer[1024];
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 2u);
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 0u);
    EXPECT_EQ(channel.Stop(), 1);
    EXPECT_TRUE(pumpUntil([&] { return !channel.ReaderRunning(); }));
}


TEST_F(ChannelFixture, AWatchedPtyWakesTheWaiterItselfAndAHangUpStopsTheWatch) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(channel.Open(pty.slavePath, 115200, 0, 8, 0, 0x79));
    // No reader: only the waiting thread's own watch on the tty can take the
    // bytes into the queue and wake its loop.
    channel.SetArrivalWatch(true);
    SafetyNet net;
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    ASSERT_NE(dispatcher, nullptr);
    ASSERT_TRUE(pty.writeMaster({0x79, 0x01, 0x02}));
    while (channel.QueuedBytes() < 3 && !net.fired)
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    EXPECT_FALSE(net.fired) << "the reply did not wake the waiting loop";
    QByteArray received;
    received.resize(1024);
    ASSERT_EQ(channel.ReadNow(received, 1024), 3u);
    EXPECT_EQ(received.left(3), QByteArray("\x79\x01\x02", 3));

    // Unwatched, arrivals stay with the driver until someone reads.
    channel.SetArrivalWatch(false);
    ASSERT_TRUE(pty.writeMaster({0x55}));
    pumpFor(milliseconds(100));
    EXPECT_EQ(channel.QueuedBytes(), 0u);
    channel.SetArrivalWatch(true);
    while (channel.QueuedBytes() < 1 && !net.fired)
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(channel.QueuedBytes(), 1u);

    // The other end goes away: the watch notes the lost device and lets go of
    // the descriptor, which stays readable for ever (a loop on it would spin).
    pty.closeMaster();
    while (!channel.DeviceLost() && !net.fired)
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    EXPECT_TRUE(channel.DeviceLost());
    int dispatched = 0;
    for (int i = 0; i < 20; ++i)
        if (dispatcher->processEvents(QEventLoop::AllEvents)) ++dispatched;
    EXPECT_LE(dispatched, 1) << "the hung-up tty is still watched";
    EXPECT_EQ(channel.Stop(), 1);
}


TEST_F(ChannelFixture, ReplacingThePortTestTargetReleasesADeliveryInFlight) {
    EventTarget portTest;
    channel.setPortTestTarget(&portTest);
    channel.PortTestMode = true;
    ASSERT_TRUE(openSim(9600, 0xE2));
    channel.StartReader();
    EXPECT_EQ(write({0xE2}), 1);
    // The reader hands the event over and waits (nothing is pumped meanwhile).
    ASSERT_TRUE(waitUntilWithoutPumping([&] { return channel.DeliveryPending(); }));

    // The port test window goes away before its event was handled: the
    // reader must not keep waiting for it.
    channel.setPortTestTarget(nullptr);
    channel.PortTestMode = false;
    uint8_t buffer[1024];
    EXPECT_EQ(channel.Read(buffer, sizeof buffer, 1024), 1u);
    EXPECT_EQ(write({0xE2}), 1);
    EXPECT_TRUE(pumpUntil([&] { return target.serialData == 1; }, seconds(5)))
        << "the reader still notifies the main window";
    EXPECT_EQ(portTest.portTestData, 0);
}

TEST_F(ChannelFixture, ACancelledPortTestDeliveryIsNotRepeatedForTheNextOne) {
    EventTarget portTest;
    channel.setPortTestTarget(&portTest);
    channel.PortTestMode = true;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(openSim(9600, 0xE2));
        channel.StartReader();
        EXPECT_EQ(write({0xE2}), 1);
        // Handed over, not yet handled.
        ASSERT_TRUE(waitUntilWithoutPumping([&] { return channel.DeliveryPending(); }));
        if (round == 0) channel.Stop(); // gives up the first delivery
    }
    // Two requests wait in the queue; only the second delivery is still
    // wanted, and it is handled once.
    ASSERT_TRUE(pumpUntil([&] { return portTest.portTestData >= 1; }));
    pumpFor(milliseconds(300));
    EXPECT_EQ(portTest.portTestData, 1);
}

TEST_F(ChannelFixture, WatchedArrivalsWakeTheWaiterAtOnceAndSendNoNotification) {
    ASSERT_TRUE(openSim(115200, 0x79));
    channel.StartReader();
    // A reply delay the waiter must not sit out: arrivals wake it, not the
    // event character's notification.
    channel.ReplyDelayMs = 60000;
    channel.SetArrivalWatch(true);
    // Nothing else wakes this thread's loop: no timer but the safety net.
    SafetyNet net;
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    ASSERT_NE(dispatcher, nullptr);
    QByteArray received;
    EXPECT_EQ(write({0x79, 0x01, 0x02}), 1);
    while (received.size() < 3 && !net.fired) {
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QByteArray chunk;
        const unsigned n = channel.ReadNow(chunk, 1024);
        received.append(chunk.constData(), n);
    }
    EXPECT_FALSE(net.fired) << "the arrivals did not wake the waiting loop";
    EXPECT_EQ(received, QByteArray("\x79\x01\x02", 3));

    // Watched, the event character sends no notification, even without a delay.
    channel.ReplyDelayMs = 0;
    EXPECT_EQ(write({0x79}), 1);
    ASSERT_TRUE(queued(1));
    pumpFor(milliseconds(200));
    EXPECT_EQ(target.serialData, 0);

    // Unwatched, it notifies as before.
    channel.SetArrivalWatch(false);
    QByteArray scratch;
    channel.ReadNow(scratch, 1024);
    EXPECT_EQ(write({0x79}), 1);
    EXPECT_TRUE(pumpUntil([&] { return target.serialData == 1; }));
}
