// The waiting machinery: tick counting, and that a wait sleeps instead of
// spinning.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <thread>

#include "app/MainWindowCore.h"
#include "common/IsolatedRoots.h"
#include "common/ManualTicks.h"
#include "app/MainWindowPanel.h"
#include "platform/ThreadNotifier.h"
#include "platform/TickSource.h"

using namespace talvo;

namespace {

class FailingTicks : public TickSource {
public:
    unsigned start(int, std::function<void()>, QString* error) override {
        if (error) *error = "Resource temporarily unavailable";
        return 0;
    }
    void stop(unsigned) override {}
    bool running(unsigned) const override { return false; }
};

struct Core {
    test::IsolatedRoots roots;
    MainWindowPanel panel;
    MainWindowCore core{panel, roots.services()};
};

} // namespace

TEST(TickTimerProc, CountsOnlyWhileEnabledIncludingTheInitialisationCall) {
    // Static: the procedure keeps the addresses after the test.
    static std::atomic<int> count{0};
    static std::atomic<bool> enabled{false};
    MainWindowCore::TickTargets targets{&count, &enabled};
    MainWindowCore::TickTimerProc(0, 74, 0, reinterpret_cast<uintptr_t>(&targets), 0);
    EXPECT_EQ(count.load(), 0);
    MainWindowCore::TickTimerProc(0, 0, 0, 0, 0);
    EXPECT_EQ(count.load(), 0);

    enabled = true;
    MainWindowCore::TickTimerProc(0, 74, 0, reinterpret_cast<uintptr_t>(&targets), 0); // counts too
    EXPECT_EQ(count.load(), 1);
    MainWindowCore::TickTimerProc(0, 0, 0, 0, 0);
    MainWindowCore::TickTimerProc(0, 0, 0, 0, 0);
    EXPECT_EQ(count.load(), 3);
    enabled = false;
}

// The core's tick timer counts the core's own ticks, only while counting is
// on; ResetTicks() sets the count back and stops it.
TEST(TickTimer, CountsTheCoresTicksWhileCountingIsOn) {
    test::ManualTicks ticks;
    test::IsolatedRoots roots;
    MainWindowPanel panel;
    MainWindowCore core(panel, roots.services(&ticks));
    ASSERT_TRUE(core.StartTickTimer());
    EXPECT_TRUE(core.TickTimerRunning());
    ticks.tick();
    EXPECT_EQ(core.Ticks(), 0) << "not counting yet";
    core.StartTickCount();
    for (int i = 0; i < 3; ++i) ticks.tick();
    EXPECT_EQ(core.Ticks(), 3);
    core.ResetTicks();
    EXPECT_EQ(core.Ticks(), 0);
    ticks.tick();
    EXPECT_EQ(core.Ticks(), 0) << "ResetTicks stops the count";
    core.StartTickCount();
    ticks.tick();
    core.KillTickTimer();
    EXPECT_FALSE(core.TickTimerRunning());
    EXPECT_FALSE(ticks.running(1));
    EXPECT_EQ(core.Ticks(), 1);
}

TEST(PumpMessages, AWaitOfNTicksEndsAfterAboutNTimes100ms) {
    Core c;
    c.core.ResetTicks();
    ASSERT_TRUE(c.core.StartTickTimer());
    c.core.StartTickCount();

    const int n = 5;
    int pumps = 0;
    QElapsedTimer t;
    t.start();
    while (c.core.Ticks() < n && t.elapsed() < 20000) {
        c.core.PumpMessages();
        ++pumps;
    }
    const qint64 ms = t.elapsed();
    c.core.KillTickTimer();
    EXPECT_EQ(c.core.Ticks(), n);
    // Ticks are never early; a busy machine may make them late.
    EXPECT_GE(ms, (n - 1) * 100 + 50);
    EXPECT_LT(ms, 20000);
    // The pump slept between ticks instead of spinning: a busy loop would
    // have gone round many thousands of times in half a second.
    EXPECT_LE(pumps, 20 * n);
}

TEST(PumpMessages, ANotificationFromAnotherThreadWakesASleepingPump) {
    Core c;
    c.core.ResetTicks();
    ASSERT_TRUE(c.core.StartTickTimer());
    int handled = 0;
    ThreadNotifier notifier([&handled] { ++handled; });
    ASSERT_TRUE(notifier.valid());
    // Drain whatever is queued, then ring from another thread while the pump sleeps.
    while (c.core.PumpMessages() > 0) {}
    std::thread worker([&notifier] { notifier.notify(); });
    for (int i = 0; i < 50 && handled == 0; ++i) c.core.PumpMessages();
    worker.join();
    c.core.KillTickTimer();
    EXPECT_EQ(handled, 1);
}

TEST(StartDownload, ATickThatCannotStartStopsTheDownloadWithAReport) {
    FailingTicks ticks;
    test::IsolatedRoots roots;
    MainWindowPanel panel;
    MainWindowCore core(panel, roots.services(&ticks));
    core.Initialise();
    core.SetFirmwareFile(QStringLiteral(TALVO_SOURCE_DIR "/tests/app/data/tiny.hex"));
    core.StartDownload();
    ASSERT_FALSE(panel.logLines.isEmpty());
    EXPECT_TRUE(panel.logLines.last().contains("Resource temporarily unavailable")) << panel.logLines.last().toStdString();
    EXPECT_TRUE(panel.isEnabled(1005));
    EXPECT_TRUE(panel.isEnabled(1011));
    EXPECT_FALSE(core.IsDownloading());
    EXPECT_FALSE(core.TickTimerRunning());
}
