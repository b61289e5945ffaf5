#pragma once
// A tick source that ticks only when the test says so, on the test's thread:
// tick counts without waiting for real 100 ms ticks.

#include <functional>

#include "platform/TickSource.h"

namespace talvo::test {

class ManualTicks : public TickSource {
public:
    unsigned start(int, std::function<void()> onTick, QString*) override {
        OnTick = std::move(onTick);
        return 1;
    }
    void stop(unsigned) override { OnTick = nullptr; }
    bool running(unsigned) const override { return static_cast<bool>(OnTick); }
    // One tick of the running timer; nothing when none runs.
    void tick() {
        if (OnTick) OnTick();
    }

private:
    std::function<void()> OnTick;
};

} // namespace talvo::test
