#include "platform/ThreadTickSource.h"

#include <chrono>
#include <system_error>

namespace talvo {

ThreadTickSource::~ThreadTickSource() {
    std::map<unsigned, std::unique_ptr<Ticker>> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(tickers_);
    }
    for (auto& [id, t] : all) {
        {
            std::lock_guard lock(t->mutex);
            t->stopping = true;
        }
        t->wake.notify_all();
        if (t->thread.joinable()) t->thread.join();
    }
}

unsigned ThreadTickSource::start(int periodMs, std::function<void()> onTick, QString* error) {
    if (periodMs <= 0 || !onTick) {
        if (error) *error = QStringLiteral("invalid tick period %1 ms").arg(periodMs);
        return 0;
    }
    auto ticker = std::make_unique<Ticker>();
    Ticker* t = ticker.get();
    const auto period = std::chrono::milliseconds(periodMs);
    try {
        t->thread = std::thread([t, period, onTick = std::move(onTick)] {
            auto next = std::chrono::steady_clock::now() + period;
            std::unique_lock lock(t->mutex);
            while (!t->stopping) {
                if (t->wake.wait_until(lock, next, [t] { return t->stopping; })) break;
                lock.unlock();
                onTick();
                lock.lock();
                next += period;
                // After a long stall, do not fire a burst of catch-up ticks.
                const auto now = std::chrono::steady_clock::now();
                if (next < now) next = now + period;
            }
        });
    } catch (const std::system_error& e) {
        if (error) *error = QString::fromLocal8Bit(e.what());
        return 0;
    }
    std::lock_guard lock(mutex_);
    const unsigned id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    tickers_[id] = std::move(ticker);
    return id;
}

void ThreadTickSource::stop(unsigned id) {
    std::unique_ptr<Ticker> t;
    {
        std::lock_guard lock(mutex_);
        auto it = tickers_.find(id);
        if (it == tickers_.end()) return;
        t = std::move(it->second);
        tickers_.erase(it);
    }
    {
        std::lock_guard lock(t->mutex);
        t->stopping = true;
    }
    t->wake.notify_all();
    if (t->thread.joinable()) t->thread.join();
}

bool ThreadTickSource::running(unsigned id) const {
    std::lock_guard lock(mutex_);
    return tickers_.count(id) != 0;
}

} // namespace talvo
