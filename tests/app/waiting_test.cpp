// The waiting machinery: tick counting, the pump's time-out flag, and that a
// wait sleeps instead of spinning.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <thread>

#include "app/MainWindowCore.h"
#include "common/IsolatedRoots.h"
#include "app/MemoryPanel.h"
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
    MemoryPanel panel;
    MainWindowCore core{panel, roots.services()};
};

// Arms the tick procedure on the core's counter, as StartDownload does.
void armTicks(MainWindowCore& core) {
    MainWindowCore::TickTargets targets{&core.TickCount, &core.TickEnabled};
    MainWindowCore::TickTimerProc(0, 74, 0, reinterpret_cast<uintptr_t>(&targets), 0);
}

} // namespace

TEST(TickTimerProc, CountsOnlyWhileEnabledIncludingTheInitialisationCall) {
    Core c;
    c.core.TickCount = 0;
    c.core.TickEnabled = false;
    armTicks(c.core);
    EXPECT_EQ(c.core.TickCount.load(), 0);
    MainWindowCore::TickTimerProc(0, 0, 0, 0, 0);
    EXPECT_EQ(c.core.TickCount.load(), 0);

    c.core.TickEnabled = true;
    armTicks(c.core); // the initialisation call counts too
    EXPECT_EQ(c.core.TickCount.load(), 1);
    MainWindowCore::TickTimerProc(0, 0, 0, 0, 0);
    MainWindowCore::TickTimerProc(0, 0, 0, 0, 0);
    EXPECT_EQ(c.core.TickCount.load(), 3);
}

TEST(PumpMessages, SetsTimedOutOnlyWhenAnEventWasDispatchedPastTick32) {
    Core c;
    MainWindowCore::TimedOut = false;

    // An empty queue never sets it, however high the count.
    c.core.TickCount = 100;
    EXPECT_EQ(c.core.PumpMessages(), 0);
    EXPECT_FALSE(MainWindowCore::TimedOut.load());

    // An event dispatched at tick 32 does not (the limit is "more than 32").
    c.core.TickCount = 32;
    QCoreApplication::postEvent(&c.core, new QEvent(QEvent::User));
    EXPECT_GE(c.core.PumpMessages(), 1);
    EXPECT_FALSE(MainWindowCore::TimedOut.load());

    // An event dispatched after tick 32 does.
    c.core.TickCount = 33;
    QCoreApplication::postEvent(&c.core, new QEvent(QEvent::User));
    EXPECT_GE(c.core.PumpMessages(), 1);
    EXPECT_TRUE(MainWindowCore::TimedOut.load());
    MainWindowCore::TimedOut = false;
}

TEST(PumpMessages, AWaitOfNTicksEndsAfterAboutNTimes100ms) {
    Core c;
    c.core.TickCount = 0;
    c.core.TickEnabled = false;
    armTicks(c.core);
    ASSERT_TRUE(c.core.StartTickTimer());
    c.core.TickEnabled = true;

    const int n = 5;
    int pumps = 0;
    QElapsedTimer t;
    t.start();
    while (c.core.TickCount.load() < n && t.elapsed() < 20000) {
        c.core.PumpMessages();
        ++pumps;
    }
    const qint64 ms = t.elapsed();
    c.core.KillTickTimer();
    EXPECT_EQ(c.core.TickCount.load(), n);
    // Ticks are never early; a busy machine may make them late.
    EXPECT_GE(ms, (n - 1) * 100 + 50);
    EXPECT_LT(ms, 20000);
    // The pump slept between ticks instead of spinning: a busy loop would
    // have gone round many thousands of times in half a second.
    EXPECT_LE(pumps, 20 * n);
}

TEST(PumpMessages, ANotificationFromAnotherThreadWakesASleepingPump) {
    Core c;
    c.core.TickEnabled = false;
    armTicks(c.core);
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
    MemoryPanel panel;
    MainWindowCore core(panel, roots.services(&ticks));
    core.Initialise();
    core.FirmwarePath = QStringLiteral(TALVO_SOURCE_DIR "/tests/app/data/tiny.hex");
    core.StartDownload();
    ASSERT_FALSE(panel.logLines.isEmpty());
    EXPECT_TRUE(panel.logLines.last().contains("Resource temporarily unavailable")) << panel.logLines.last().toStdString();
    EXPECT_TRUE(panel.isEnabled(1005));
    EXPECT_TRUE(panel.isEnabled(1011));
    EXPECT_FALSE(core.Downloading);
    EXPECT_EQ(core.TickTimerId, 0u);
}
