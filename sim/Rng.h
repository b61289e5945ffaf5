#pragma once
// The simulators' random numbers: seeded, so that every run repeats.

#include <cstdint>

namespace talvo::sim {

// Small, fast, reproducible generator (splitmix64).
class Rng {
public:
    explicit Rng(uint64_t seed = 1) : state_(seed) {}
    uint64_t next();
    // Uniform in [0, 1).
    double uniform();
    // True with probability p (never consumes a number when p <= 0).
    bool chance(double p);
    // Uniform integer in [lo, hi].
    int range(int lo, int hi);

private:
    uint64_t state_;
};

} // namespace talvo::sim
