#pragma once
// A tick source whose tick thread cannot be started, as when the process has
// run out of threads.

#include "platform/TickSource.h"

namespace talvo::test {

class FailingTicks : public TickSource {
public:
    unsigned start(int, std::function<void()>, QString* error) override {
        if (error) *error = "Resource temporarily unavailable";
        return 0;
    }
    void stop(unsigned) override {}
    bool running(unsigned) const override { return false; }
};

} // namespace talvo::test
