#pragma once

// The seed of a crash test's random moments: VANTOREL_CRASH_SEED when set,
// so that a sequence that failed can be run again, else a fresh one.

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <string>

namespace vantorel::test {

inline std::uint64_t crashSeed() {
    if (const char* text = std::getenv("VANTOREL_CRASH_SEED"); text != nullptr && *text != '\0')
        return std::strtoull(text, nullptr, 10);
    return std::random_device{}();
}

// The test's random source, its seed printed and kept in the test's record
// so that a failure can be repeated.
inline std::mt19937_64 crashRandom() {
    const std::uint64_t seed = crashSeed();
    std::cout << "crash seed: " << seed << " (VANTOREL_CRASH_SEED=" << seed << " repeats it)"
              << std::endl;
    ::testing::Test::RecordProperty("crash_seed", std::to_string(seed));
    return std::mt19937_64(seed);
}

} // namespace vantorel::test
