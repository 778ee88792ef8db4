#include "base/wait.h"
#include "named_case.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <thread>

using namespace vantorel;
using namespace std::chrono_literals;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

// Only a guard against a hang; every wait below that works ends long before.
constexpr auto kGuard = 20s;

struct DurationCase {
    const char* name;
    std::int64_t interval;
    WaitUnit unit;
    std::int64_t milliseconds;
};

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

} // namespace

class WaitDuration : public ::testing::TestWithParam<DurationCase> {};

TEST_P(WaitDuration, FollowsTheUnitTable) {
    const DurationCase& c = GetParam();
    EXPECT_EQ(waitDuration(c.interval, c.unit).count(), c.milliseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitDuration,
    ::testing::Values(DurationCase{"Milliseconds", 1000, WaitUnit::Milliseconds, 1000},
                      DurationCase{"Seconds", 3, WaitUnit::Seconds, 3000},
                      DurationCase{"Minute", 1, WaitUnit::Minutes, 60000},
                      DurationCase{"Hours", 2, WaitUnit::Hours, 7200000},
                      DurationCase{"OtherUnitIsMillisecondsPerStep", 5, static_cast<WaitUnit>(7),
                                   35},
                      DurationCase{"NegativeUnit", 2, static_cast<WaitUnit>(-250), -500},
                      DurationCase{"Zero", 0, WaitUnit::Hours, 0},
                      DurationCase{"NegativeInterval", -5, WaitUnit::Seconds, -5000},
                      DurationCase{"SaturatesHigh", kMax, WaitUnit::Hours, kMax},
                      DurationCase{"SaturatesLow", kMin, WaitUnit::Seconds, kMin}),
    CaseName{});

TEST(WaitDuration, UnitDefaultsToMilliseconds) {
    EXPECT_EQ(waitDuration(250).count(), 250);
}

TEST(WaitInterruptibly, StopEndsALongWait) {
    std::stop_source source;
    std::promise<void> started;
    auto waiting = std::async(std::launch::async, [&] {
        started.set_value();
        return waitInterruptibly(source.get_token(), 60, WaitUnit::Seconds);
    });
    started.get_future().wait();
    // Lets the waiter reach its wait; a stop that lands before it must give
    // the same answer, so this is no threshold.
    std::this_thread::sleep_for(20ms);
    const auto stoppedAt = std::chrono::steady_clock::now();
    source.request_stop();
    ASSERT_EQ(waiting.wait_for(kGuard), std::future_status::ready);
    const auto lag = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - stoppedAt);
    ::testing::Test::RecordProperty("stop_lag_us", std::to_string(lag.count()));
    EXPECT_EQ(waiting.get(), WaitResult::Stopped);
}

TEST(WaitInterruptibly, StopEndsEvenTheLongestWait) {
    std::stop_source source;
    auto waiting = std::async(std::launch::async, [&] {
        return waitInterruptibly(source.get_token(), kMax, WaitUnit::Hours);
    });
    std::this_thread::sleep_for(20ms);
    source.request_stop();
    ASSERT_EQ(waiting.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(waiting.get(), WaitResult::Stopped);
}

TEST(WaitInterruptibly, StopRequestedBeforehandReturnsAtOnce) {
    std::stop_source source;
    source.request_stop();
    auto waiting = std::async(std::launch::async, [&] {
        return waitInterruptibly(source.get_token(), 1, WaitUnit::Hours);
    });
    ASSERT_EQ(waiting.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(waiting.get(), WaitResult::Stopped);
}

TEST(WaitInterruptibly, ZeroOrNegativeIntervalReturnsAtOnce) {
    std::stop_source source;
    // Hours as the unit: a wait that mistook the sign would hang the guard.
    for (const std::int64_t interval : {std::int64_t{0}, std::int64_t{-1}, kMin}) {
        auto waiting = std::async(std::launch::async, [&] {
            return waitInterruptibly(source.get_token(), interval, WaitUnit::Hours);
        });
        ASSERT_EQ(waiting.wait_for(kGuard), std::future_status::ready) << interval;
        EXPECT_EQ(waiting.get(), WaitResult::Completed) << interval;
    }
}

TEST(WaitInterruptibly, CompletesAfterTheInterval) {
    std::stop_source source;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitInterruptibly(source.get_token(), 30), WaitResult::Completed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(WaitFor, CompletesWithATokenThatCannotStop) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitFor(std::stop_token{}, 10ms), WaitResult::Completed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 10ms);
}
