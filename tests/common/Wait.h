#pragma once
// Condition waits for the tests: wait until something holds, never for a
// fixed time.  The limit is a generous bound that only a broken program
// reaches; on a busy machine the wait simply takes longer.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <chrono>
#include <thread>

namespace talvo::test {

inline constexpr std::chrono::milliseconds kWaitLimit{30000};

// Polls `done()`, dispatching this thread's events between polls (so queued
// notifications from worker threads are delivered).  True when it held.
template <class Pred>
bool waitUntil(Pred done, std::chrono::milliseconds limit = kWaitLimit) {
    const QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // The condition is set by another thread that may not post anything:
        // look again shortly (a poll interval, not an assumed duration).
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The same without dispatching anything: for a state another thread reaches
// while this thread's queue must stay untouched.
template <class Pred>
bool waitUntilWithoutPumping(Pred done, std::chrono::milliseconds limit = kWaitLimit) {
    const QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace talvo::test
