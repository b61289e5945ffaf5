// The tty backend on pseudo-terminal pairs: rates, raw bytes, exclusivity,
// the pty exceptions, wake-up and hang-up; and the wire trace it feeds.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

#include "common/Wait.h"
#include "platform/PosixTtyDevice.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "platform/TtyTermios2.h"
#include "platform/WireTrace.h"
#include "platform/PtyPair.h"
#include "platform/TestPeer.h"

using namespace talvo;
using talvo::test::line;
using talvo::test::PtyPair;

namespace {

// Opens the slave of `pty` as the device under test.
std::unique_ptr<PosixTtyDevice> openSlave(const PtyPair& pty) {
    DeviceStatus st;
    auto dev = PosixTtyDevice::open(pty.slavePath, &st);
    EXPECT_TRUE(dev) << st.describe().toStdString();
    return dev;
}

// True while the thread `tid` of this process sleeps (state S in its stat).
bool threadSleeps(pid_t tid) {
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    const qsizetype end = text.lastIndexOf(')'); // the name may hold blanks
    return end > 0 && text.mid(end + 2, 1) == "S";
}

std::vector<uint8_t> frame(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11); // every value class, 0x0D/0x0A/0x11 too
    return bytes;
}

std::vector<uint8_t> readDevice(SerialDevice& dev, size_t n) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
        if (dev.waitReadable(100) != WaitStatus::Readable) continue;
        uint8_t buf[512];
        const DeviceIo io = dev.read(buf, sizeof buf);
        out.insert(out.end(), buf, buf + io.count);
    }
    return out;
}

} // namespace

TEST(TtyDevice, FramesAtCustomRatesPassByteForByteBothWays) {
    for (uint32_t baud : {1000u, 28800u, 14400u, 115200u}) {
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        auto dev = openSlave(pty);
        ASSERT_TRUE(dev);
        EXPECT_TRUE(dev->isPseudoTerminal());
        ASSERT_TRUE(dev->configure(line(baud)).ok()) << baud;

        // The rate the host set is visible from the other end, as a
        // simulator behind the pty sees it.
        tty::Line seen;
        ASSERT_EQ(tty::getLine(pty.master, &seen), 0);
        EXPECT_EQ(seen.outputBaud, baud);
        EXPECT_TRUE(seen.raw);

        const auto out = frame(300);
        const DeviceIo w = dev->write(out.data(), out.size(), std::chrono::milliseconds(2000));
        EXPECT_TRUE(w.ok());
        EXPECT_EQ(w.count, out.size());
        EXPECT_EQ(pty.readMaster(out.size()), out) << baud;

        const auto in = frame(200);
        ASSERT_TRUE(pty.writeMaster(in));
        EXPECT_EQ(readDevice(*dev, in.size()), in) << baud;
    }
}

TEST(TtyDevice, OpenIsExclusive) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    DeviceStatus st;
    auto first = PosixTtyDevice::open(pty.slavePath, &st);
    ASSERT_TRUE(first);
    auto second = PosixTtyDevice::open(pty.slavePath, &st);
    EXPECT_FALSE(second);
    EXPECT_EQ(st.error, EBUSY);
    first.reset();
    auto third = PosixTtyDevice::open(pty.slavePath, &st);
    EXPECT_TRUE(third) << "closing the first open frees the device";
}

TEST(TtyDevice, OpenFailuresCarryErrnoAndName) {
    DeviceStatus st;
    EXPECT_FALSE(PosixTtyDevice::open(QStringLiteral("/dev/talvo-no-such-tty"), &st));
    EXPECT_EQ(st.error, ENOENT);
    EXPECT_TRUE(st.describe().contains(QLatin1String("/dev/talvo-no-such-tty")));
    EXPECT_FALSE(PosixTtyDevice::open(QStringLiteral("/dev/null"), &st));
    EXPECT_EQ(st.error, ENOTTY);
}

TEST(TtyDevice, PtySkipsParityAndModemLinesWithANoteInTheTrace) {
    QTemporaryDir dir;
    const QString tracePath = dir.filePath("trace.txt");
    ASSERT_TRUE(WireTrace::enable(tracePath));
    {
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        auto dev = openSlave(pty);
        ASSERT_TRUE(dev);
        EXPECT_TRUE(dev->configure(line(115200, 2)).ok());
        EXPECT_TRUE(dev->setRts(true).ok());
        EXPECT_TRUE(dev->setDtr(false).ok());
        const uint8_t bytes[] = {0x7f, 0x7f};
        dev->write(bytes, 2, std::chrono::milliseconds(2000));
        ASSERT_TRUE(pty.writeMaster({0x79}));
        EXPECT_EQ(readDevice(*dev, 1), std::vector<uint8_t>{0x79});
    }
    WireTrace::disable();
    QFile f(tracePath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString trace = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(trace.contains(QLatin1String("parity E not applied"))) << trace.toStdString();
    EXPECT_TRUE(trace.contains(QLatin1String("RTS and DTR changes are not carried"))) << trace.toStdString();
    EXPECT_TRUE(trace.contains(QLatin1String(" TX 115200 8E1: 7F 7F"))) << trace.toStdString();
    EXPECT_TRUE(trace.contains(QLatin1String(" RX 115200 8E1: 79"))) << trace.toStdString();
}

TEST(TtyDevice, WakeEndsAWaitWithoutLimit) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto dev = openSlave(pty);
    ASSERT_TRUE(dev);
    // A wake before the wait is kept for it.
    dev->wake();
    EXPECT_EQ(dev->waitReadable(-1), WaitStatus::Woken);
    // A wake during the wait: the waiter is asleep in it before the wake.
    std::atomic<int> result{-1};
    std::atomic<pid_t> waiterId{0};
    std::thread waiter([&] {
        waiterId = static_cast<pid_t>(::syscall(SYS_gettid));
        result = static_cast<int>(dev->waitReadable(-1));
    });
    ASSERT_TRUE(talvo::test::waitUntilWithoutPumping([&] { return waiterId != 0 && threadSleeps(waiterId); }));
    EXPECT_EQ(result.load(), -1);
    dev->wake();
    waiter.join();
    EXPECT_EQ(result.load(), static_cast<int>(WaitStatus::Woken));
}

TEST(TtyDevice, HangUpOfTheOtherEndIsReportedNotSpun) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto dev = openSlave(pty);
    ASSERT_TRUE(dev);
    ASSERT_TRUE(dev->configure(line(9600)).ok());
    ASSERT_TRUE(pty.writeMaster({0x68}));
    ASSERT_EQ(dev->waitReadable(5000), WaitStatus::Readable);
    uint8_t buf[16];
    DeviceIo io = dev->read(buf, sizeof buf);
    EXPECT_EQ(io.count, 1u);
    pty.closeMaster();
    // A wait returns at once (it does not block for ever), and a read says why.
    const WaitStatus w = dev->waitReadable(-1);
    EXPECT_TRUE(w == WaitStatus::HungUp || w == WaitStatus::Readable);
    io = dev->read(buf, sizeof buf);
    EXPECT_EQ(io.count, 0u);
    EXPECT_EQ(io.error, EIO);
    const uint8_t b = 1;
    EXPECT_FALSE(dev->write(&b, 1, std::chrono::milliseconds(100)).ok());
}

TEST(DeviceFactory, ResolvesNamesUnderTheDeviceRootAndRefusesUnknownSimulators) {
    EXPECT_EQ(SystemSerialDeviceFactory::resolve("ttyUSB0", ""), "/dev/ttyUSB0");
    EXPECT_EQ(SystemSerialDeviceFactory::resolve("ttyUSB0", "/tmp/fake/"), "/tmp/fake/ttyUSB0");
    EXPECT_EQ(SystemSerialDeviceFactory::resolve("/dev/pts/3", "/tmp/fake"), "/dev/pts/3");
    EXPECT_EQ(SystemSerialDeviceFactory::resolve("./stc-link", "/tmp/fake"), "./stc-link");
    EXPECT_EQ(SystemSerialDeviceFactory::resolve("../links/stc", ""), "../links/stc");

    SystemSerialDeviceFactory factory;
    DeviceStatus st;
    EXPECT_FALSE(factory.open("", &st));
    EXPECT_EQ(st.error, ENOENT);
    EXPECT_FALSE(factory.open("sim:NOSUCHCHIP", &st));
    EXPECT_EQ(st.error, ENODEV);

    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto dev = factory.open(pty.slavePath, &st);
    ASSERT_TRUE(dev) << st.describe().toStdString();
    EXPECT_EQ(dev->name(), pty.slavePath);
}

TEST(WireTraceOption, TakesTraceOptionsOutOfTheArguments) {
    QTemporaryDir dir;
    QStringList args{"download", "--trace=" + dir.filePath("t.txt"), "--port", "/dev/pts/1"};
    QString error;
    EXPECT_TRUE(WireTrace::takeOption(args, &error));
    EXPECT_EQ(args, (QStringList{"download", "--port", "/dev/pts/1"}));
    EXPECT_TRUE(WireTrace::enabled());
    WireTrace::disable();
    EXPECT_FALSE(WireTrace::enabled());

    args = QStringList{"--trace=/talvo/no/such/dir/t.txt"};
    EXPECT_FALSE(WireTrace::takeOption(args, &error));
    EXPECT_TRUE(error.contains("/talvo/no/such/dir/t.txt"));
    EXPECT_TRUE(args.isEmpty());
}
