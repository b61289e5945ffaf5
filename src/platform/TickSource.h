#pragma once
// A periodic tick on its own thread, in place of a multimedia timer: start()
// returns a non-zero id (0 when the thread could not be started, with the
// reason), stop() ends the ticks and joins the thread.  Ticks are scheduled
// against a steady clock, so they do not drift with the callback's run time.

#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace talvo {

class TickSource {
public:
    virtual ~TickSource() = default;
    // Calls onTick every periodMs on a worker thread until stop(id).
    virtual unsigned start(int periodMs, std::function<void()> onTick, QString* error) = 0;
    // Stops the ticks of `id` and waits for its thread; unknown ids do nothing.
    virtual void stop(unsigned id) = 0;
    virtual bool running(unsigned id) const = 0;
};

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
