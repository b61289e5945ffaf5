// The download host over a serial channel: opening and closing the port and
// what is told when that fails, sending and collecting replies, the tick,
// the pump that sleeps between events, the end of a download, and Run's
// frame around a protocol.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <thread>

#include "common/FailingTicks.h"
#include "common/ManualTicks.h"
#include "host/SerialDownloadHost.h"
#include "platform/ThreadNotifier.h"
#include "protocol/Diagnosis.h"
#include "serial/ChannelTestKit.h"
#include "serial/SerialChannel.h"

using namespace talvo;
using namespace talvo::test;
using namespace std::chrono;

namespace {

struct Shown {
    QString text;
    QString caption;
    MsgIcon icon;
};

// A host whose reports land in lists, on a factory of simulated devices.
struct Rig {
    QStringList log;
    std::vector<int> progress;
    std::vector<Shown> messages;
    int idle = 0;
    std::shared_ptr<TestFactory> factory = std::make_shared<TestFactory>();
    std::unique_ptr<SerialDownloadHost> host;

    explicit Rig(TickSource* ticks = nullptr) {
        HostReports r;
        r.log = [this](const QString& line) { log << line; };
        r.progress = [this](int p) { progress.push_back(p); };
        r.message = [this](const QString& text, const QString& caption, MsgIcon icon) {
            messages.push_back({text, caption, icon});
        };
        r.idle = [this] { ++idle; };
        host = std::make_unique<SerialDownloadHost>(r, HostServices{ticks, factory, {}});
    }
    ~Rig() { host->StopChannel(); }
};

} // namespace

TEST(HostPort, AFailedOpenIsToldOnceAndTheNextOpenDoesNothing) {
    Rig r;
    r.factory->refuse = DeviceStatus::fromErrno(EACCES, "cannot open /dev/ttyUSB0");
    EXPECT_FALSE(r.host->OpenPortNamed("ttyUSB0", 1200, 0, 0x68));
    ASSERT_EQ(r.messages.size(), 1u);
    const Shown& m = r.messages[0];
    EXPECT_TRUE(m.text.startsWith("ttyUSB0口不能打开,把USB拔了重试！\n  \n     具体请参考《故障诊断》\n原因：ttyUSB0: "))
        << m.text.toStdString();
    EXPECT_EQ(m.caption, "串口提示：—不能打开串口");
    EXPECT_EQ(m.icon, MsgIcon::Warning);

    EXPECT_TRUE(r.host->OpenPort(1200, 0, 0x68)) << "after a failed open: true without opening";
    EXPECT_EQ(r.factory->opened, 1);
    EXPECT_EQ(r.messages.size(), 1u);
}

// The reason of a failed open names the port, says in the program's words
// what the common errors mean, and then gives the system's own words.
TEST(HostPort, AFailedOpenExplainsTheCommonErrorsAndKeepsTheSystemsWords) {
    const struct {
        int error;
        const char* cause; // "" = none of the common ones: the system's words alone
    } cases[] = {
        {EACCES, "没有使用该串口的权限：请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），然后重新登录"},
        {EPERM, "没有使用该串口的权限：请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），然后重新登录"},
        {EBUSY, "串口正被占用（另一个程序或驱动正在使用它）"},
        {ENOENT, "串口不存在或已拔出"},
        {ENODEV, "串口不存在或已拔出"},
        {ENXIO, "串口不存在或已拔出"},
        {ENOTTY, "这不是串口设备"},
        {EIO, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Rig r;
        r.factory->refuse = DeviceStatus::fromErrno(c.error, "cannot open /dev/ttyUSB1");
        const QString system = QStringLiteral("cannot open /dev/ttyUSB1 (%1)").arg(QString::fromLocal8Bit(strerror(c.error)));
        EXPECT_FALSE(r.host->OpenPortNamed("ttyUSB1", 9600, 0, 0));
        ASSERT_EQ(r.messages.size(), 1u);
        const QString reason = r.messages[0].text.section(QStringLiteral("原因："), 1);
        const QString cause = QString::fromUtf8(c.cause);
        // (The system's words name the port already where no cause is added.)
        EXPECT_EQ(reason, cause.isEmpty() ? system : QStringLiteral("ttyUSB1: %1（系统：%2）").arg(cause, system))
            << r.messages[0].text.toStdString();
        // The port test's log line carries the same reason.
        EXPECT_EQ(r.host->Channel().LastError().explainOpenFailure("ttyUSB1"), reason);
    }
}

TEST(HostPort, SentBytesReachTheWireAndTheRepliesAreCollectedForTheProtocol) {
    Rig r;
    ASSERT_TRUE(r.host->OpenPortNamed("sim:echo", 115200, 2, 0x79));
    const SerialChannel& channel = r.host->Channel();
    EXPECT_EQ(channel.Settings().parity, 2);
    r.host->StartReader();

    // The event character last, so the whole echo is there when it wakes us.
    ASSERT_TRUE(r.host->Send(QByteArray("\xAB\x79", 2)));
    ASSERT_TRUE(pumpUntil([&] { return !r.host->Received().isEmpty(); }));
    EXPECT_EQ(r.host->Received(), QByteArray("\xAB\x79", 2));

    // Kept: the next bytes' echo adds to what was received; an empty write
    // completes too.
    ASSERT_TRUE(r.host->Send(QByteArray("\x46\xB9", 2), true));
    ASSERT_TRUE(r.host->Send(QByteArray(), true));
    EXPECT_EQ(channel.IsStop.load(), 1) << "the empty write completes too";
    ASSERT_TRUE(pumpUntil([&] { return r.factory->log->byteCount() == 4; }));
    pumpFor(milliseconds(50));
    const auto bytes = r.factory->log->takeBytes();
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[2].value, 0x46);
    EXPECT_EQ(bytes[3].value, 0xB9);
    EXPECT_EQ(bytes[3].host.parity, 2);

    // Bytes without the event character wake nobody, yet the wait takes
    // them at its first look: nothing is lost.
    ASSERT_TRUE(pumpUntil([&] { return channel.QueuedBytes() == 2; }));
    ASSERT_TRUE(r.host->StartTickTimer());
    EXPECT_EQ(r.host->Wait(20, [](const QByteArray& got) { return got.size() == 4; }), protocol::WaitResult::Replied);
    r.host->KillTickTimer();
    EXPECT_EQ(r.host->Received(), QByteArray("\xAB\x79\x46\xB9", 4));
    EXPECT_EQ(channel.QueuedBytes(), 0u);
    // A send starts the reply afresh.
    r.host->Send(QByteArray());
    EXPECT_TRUE(r.host->Received().isEmpty());

    r.host->ClosePort();
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_TRUE(r.messages.empty());
    // A close leaves opening allowed: the next open (a rate switch) opens.
    const int opened = r.factory->opened;
    ASSERT_TRUE(r.host->OpenPort(115200, 2, 0x79));
    EXPECT_EQ(r.factory->opened, opened + 1);
    EXPECT_TRUE(channel.IsOpen());
}

TEST(HostPort, AReplySplitAcrossReadsIsAssembledWithinATick) {
    Rig r;
    ASSERT_TRUE(r.host->OpenPortNamed("sim:echo", 115200, 0, 0x68));
    r.host->StartReader();
    r.host->Send(QByteArray(1, '\0'));
    r.factory->inject({0x01, 0x68}, r.host->Channel().Settings());
    ASSERT_TRUE(pumpUntil([&] { return r.host->Received().size() >= 2; }));
    // The rest comes without a new notification (the read cleared the write
    // mark): the wait takes it up at its next look.
    r.factory->inject({0x02, 0x03}, r.host->Channel().Settings());
    ASSERT_TRUE(r.host->StartTickTimer());
    const auto result = r.host->Wait(20, [](const QByteArray& got) { return got.endsWith("\x02\x03"); });
    r.host->KillTickTimer();
    EXPECT_EQ(result, protocol::WaitResult::Replied);
    EXPECT_LE(r.host->Ticks(), 2);
}

TEST(HostPort, ADeviceThatCannotBeClosedIsToldTwice) {
    Rig r;
    r.factory->custom = [](const QString&) {
        auto dev = std::make_unique<ScriptedDevice>();
        dev->closeError = EIO;
        return dev;
    };
    ASSERT_TRUE(r.host->OpenPortNamed("sim:scripted", 9600, 0, 0x68));
    r.host->ClosePort();
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0].text, "串口关闭失败");
    EXPECT_EQ(r.messages[0].caption, AppTitle());
    EXPECT_EQ(r.messages[1].text, "关闭串口失败");
    EXPECT_EQ(r.messages[1].caption, "");
    EXPECT_FALSE(r.host->Channel().IsOpen());
    // Opening is allowed again after the failed close.
    r.factory->custom = nullptr;
    const int opened = r.factory->opened;
    EXPECT_TRUE(r.host->OpenPort(9600, 0, 0x68));
    EXPECT_EQ(r.factory->opened, opened + 1);
}

// The host's tick counts the host's own ticks, only while counting is on;
// ResetTicks() sets the count back and stops it.
TEST(HostTick, CountsTheHostsTicksWhileCountingIsOn) {
    ManualTicks ticks;
    Rig r(&ticks);
    ASSERT_TRUE(r.host->StartTickTimer());
    EXPECT_TRUE(r.host->TickTimerRunning());
    ticks.tick();
    EXPECT_EQ(r.host->Ticks(), 0) << "not counting yet";
    r.host->StartTickCount();
    for (int i = 0; i < 3; ++i) ticks.tick();
    EXPECT_EQ(r.host->Ticks(), 3);
    r.host->ResetTicks();
    EXPECT_EQ(r.host->Ticks(), 0);
    ticks.tick();
    EXPECT_EQ(r.host->Ticks(), 0) << "ResetTicks stops the count";
    r.host->StartTickCount();
    ticks.tick();
    r.host->KillTickTimer();
    EXPECT_FALSE(r.host->TickTimerRunning());
    EXPECT_FALSE(ticks.running(1));
    EXPECT_EQ(r.host->Ticks(), 1);

    // Two hosts count apart.
    ManualTicks otherTicks;
    Rig other(&otherTicks);
    ASSERT_TRUE(r.host->StartTickTimer());
    ASSERT_TRUE(other.host->StartTickTimer());
    r.host->StartTickCount();
    other.host->StartTickCount();
    ticks.tick();
    ticks.tick();
    otherTicks.tick();
    EXPECT_EQ(r.host->Ticks(), 3);
    EXPECT_EQ(other.host->Ticks(), 1);
    r.host->KillTickTimer();
    other.host->KillTickTimer();
}

TEST(HostPump, AWaitOfNTicksEndsAfterAboutNTimes100ms) {
    Rig r;
    r.host->ResetTicks();
    ASSERT_TRUE(r.host->StartTickTimer());
    r.host->StartTickCount();

    const int n = 5;
    int pumps = 0;
    QElapsedTimer t;
    t.start();
    while (r.host->Ticks() < n && t.elapsed() < 20000) {
        r.host->PumpMessages();
        ++pumps;
    }
    const qint64 ms = t.elapsed();
    r.host->KillTickTimer();
    EXPECT_EQ(r.host->Ticks(), n);
    // Ticks are never early; a busy machine may make them late.
    EXPECT_GE(ms, (n - 1) * 100 + 50);
    EXPECT_LT(ms, 20000);
    // The pump slept between ticks instead of spinning: a busy loop would
    // have gone round many thousands of times in half a second.
    EXPECT_LE(pumps, 20 * n);
}

TEST(HostPump, ANotificationFromAnotherThreadWakesASleepingPump) {
    Rig r;
    r.host->ResetTicks();
    ASSERT_TRUE(r.host->StartTickTimer());
    int handled = 0;
    ThreadNotifier notifier([&handled] { ++handled; });
    ASSERT_TRUE(notifier.valid());
    // Drain whatever is queued, then ring from another thread while the pump sleeps.
    while (r.host->PumpMessages()) {}
    std::thread worker([&notifier] { notifier.notify(); });
    for (int i = 0; i < 50 && handled == 0; ++i) r.host->PumpMessages();
    worker.join();
    r.host->KillTickTimer();
    EXPECT_EQ(handled, 1);
}

TEST(HostEndDownload, ReturnsToIdleAndIsHarmlessTwice) {
    ManualTicks ticks;
    Rig r(&ticks);
    ASSERT_TRUE(r.host->StartTickTimer());
    r.host->StartTickCount();
    for (int i = 0; i < 12; ++i) ticks.tick();
    ASSERT_EQ(r.host->Ticks(), 12);
    r.host->StartSync();
    ASSERT_TRUE(r.host->IsSyncing());
    ASSERT_TRUE(r.host->OpenPortNamed("sim:echo", 9600, 0, 0x68));

    for (int i = 1; i <= 2; ++i) {
        r.host->EndDownload();
        EXPECT_EQ(r.host->Ticks(), 0);
        ticks.tick(); // a tick already under way: the timer is gone
        EXPECT_EQ(r.host->Ticks(), 0) << "counting stopped";
        EXPECT_FALSE(r.host->IsSyncing());
        EXPECT_FALSE(r.host->Channel().IsOpen());
        EXPECT_EQ(r.progress.back(), 0);
        EXPECT_EQ(r.idle, i);
        EXPECT_FALSE(r.host->TickTimerRunning());
    }
}

// Run's frame: a tick that cannot start stops the download with one line
// before the protocol runs; otherwise the protocol runs on the port given,
// its failure is named by its last line (the troubleshooting texts left
// out), and the channel and the tick stop afterwards.
TEST(HostRun, TheFrameAroundAProtocol) {
    {
        FailingTicks ticks;
        Rig r(&ticks);
        bool ran = false;
        const protocol::DownloadReport report = r.host->Run("sim:echo", [&](protocol::DownloadHost&) {
            ran = true;
            return protocol::DownloadReport{};
        });
        EXPECT_FALSE(ran);
        ASSERT_EQ(r.log.size(), 1);
        EXPECT_TRUE(r.log[0].contains("Resource temporarily unavailable")) << r.log[0].toStdString();
        EXPECT_EQ(report.failure, r.log[0]);
        EXPECT_FALSE(r.host->Downloading());
    }
    Rig r;
    const protocol::DownloadReport report = r.host->Run("sim:echo", [&](protocol::DownloadHost& h) {
        EXPECT_TRUE(r.host->Downloading());
        EXPECT_EQ(h.PortName(), "sim:echo");
        EXPECT_TRUE(h.OpenPort(9600, 0, 0x68));
        h.StartReader();
        h.Log("调整波特率...");
        h.Log("擦除失败");
        h.Log(h.ConnectDiagnosis());
        return protocol::DownloadReport{};
    });
    EXPECT_EQ(report.failure, "擦除失败");
    EXPECT_FALSE(r.host->Channel().IsOpen());
    EXPECT_FALSE(r.host->TickTimerRunning());
    EXPECT_FALSE(r.host->Downloading());
}
