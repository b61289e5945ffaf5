#pragma once
#include <cstdlib>

namespace talvo::fuzz {

// A property every input must keep; a violation aborts, so that libFuzzer
// keeps the input.
inline void require(bool condition) {
    if (!condition) std::abort();
}

} // namespace talvo::fuzz
