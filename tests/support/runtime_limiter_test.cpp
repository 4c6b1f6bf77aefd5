#include "support/runtime_limiter.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/run_end.h"

namespace {

using namespace std::chrono_literals;

TEST(RuntimeLimiter, SectionThatOutlivesTheBoundRaisesOnLeaving) {
    auto guard = support::runtime_limiter(50ms);
    try {
        support::run_bounded(guard, [] { std::this_thread::sleep_for(80ms); });
        FAIL() << "no timeout";
    } catch (const support::TimeoutException& e) {
        EXPECT_STREQ(e.what(), "Tempo limite de execução excedido: 0.05 segundos");
    }
    EXPECT_FALSE(support::bound_active());
}

TEST(RuntimeLimiter, TimeLeftShrinksAndRaisesOnceTheDeadlinePasses) {
    auto guard = support::runtime_limiter(200ms);
    EXPECT_THROW(support::run_bounded(guard,
                                      [] {
                                          const auto first = support::time_left();
                                          EXPECT_LE(first, 200ms);
                                          EXPECT_GT(first, 100ms);
                                          std::this_thread::sleep_for(220ms);
                                          support::time_left();
                                          ADD_FAILURE() << "time_left did not raise";
                                      }),
                 support::TimeoutException);
    EXPECT_EQ(support::time_left(), std::chrono::milliseconds::max());
}

TEST(RuntimeLimiter, FailuresAndRunEndsPassThroughUnchanged) {
    auto guard = support::runtime_limiter(1000ms);
    EXPECT_THROW(support::run_bounded(guard, [] { throw std::logic_error("x"); }), std::logic_error);
    EXPECT_FALSE(support::bound_active());
    try {
        support::run_bounded(guard, [] { support::end_run(7); });
        FAIL();
    } catch (const support::RunEnd& end) {
        EXPECT_EQ(end.status, 7);
    }
    EXPECT_NO_THROW(support::run_bounded(guard, [] {}));
}

TEST(RuntimeLimiter, WholeSecondsAreNamedAsIntegers) {
    auto guard = support::runtime_limiter(std::chrono::seconds(900));
    guard.deadline = std::chrono::steady_clock::now() - 1ms;
    try {
        support::leave(guard);
        FAIL();
    } catch (const support::TimeoutException& e) {
        EXPECT_STREQ(e.what(), "Tempo limite de execução excedido: 900 segundos");
    }
}

}  // namespace
