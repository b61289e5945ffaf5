#pragma once
// The periodic tick on its own thread, in place of a multimedia timer: ticks
// are scheduled against a steady clock, so they do not drift with the
// callback's run time; stop() ends the ticks and joins the thread.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/TickSource.h"

namespace talvo {

class ThreadTickSource final : public TickSource {
public:
    ThreadTickSource() = default;
    ~ThreadTickSource() override;

    unsigned start(int periodMs, std::function<void()> onTick, QString* error) override;
    void stop(unsigned id) override;
    bool running(unsigned id) const override;

private:
    struct Ticker {
        std::mutex mutex;
        std::condition_variable wake;
        bool stopping = false;
        std::thread thread;
    };
    mutable std::mutex mutex_;
    std::map<unsigned, std::unique_ptr<Ticker>> tickers_;
    unsigned nextId_ = 1;
};

} // namespace talvo
