#pragma once
// A periodic tick: start() returns a non-zero id (0 when it could not be
// started, with the reason), stop() ends the ticks.  ThreadTickSource ticks
// on a thread of its own; tests tick by hand.

#include <QString>

#include <functional>
#include <memory>

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

} // namespace talvo
