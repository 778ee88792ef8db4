#pragma once

// The seed of a crash test's random moments: VANTOREL_CRASH_SEED when set,
// so that a sequence that failed can be run again, else a fresh one.

#include <cstdint>
#include <cstdlib>
#include <random>

namespace vantorel::test {

inline std::uint64_t crashSeed() {
    if (const char* text = std::getenv("VANTOREL_CRASH_SEED"); text != nullptr && *text != '\0')
        return std::strtoull(text, nullptr, 10);
    return std::random_device{}();
}

} // namespace vantorel::test
