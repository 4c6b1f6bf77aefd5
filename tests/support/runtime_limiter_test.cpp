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

// After the run's bound has been hit, one step gets a bound of its own: it
// has time again, is cut off by that bound alone, and leaves no bound behind.
TEST(RuntimeLimiter, RunWithinGivesABoundOfItsOwnPastAnExpiredOne) {
    auto guard = support::runtime_limiter(30ms);
    bool finished = false, cut_off = true;
    EXPECT_THROW(support::run_bounded(guard,
                                      [&] {
                                          std::this_thread::sleep_for(40ms);
                                          try {
                                              support::time_left();
                                          } catch (const support::TimeoutException&) {
                                              finished = support::run_within(200ms, [] {
                                                  const auto left = support::time_left();
                                                  EXPECT_LE(left, 200ms);
                                                  EXPECT_GT(left, 100ms);
                                              });
                                              cut_off = support::run_within(50ms, [] {
                                                  std::this_thread::sleep_for(60ms);
                                                  support::time_left();
                                                  ADD_FAILURE() << "time_left did not raise";
                                              });
                                              throw;
                                          }
                                      }),
                 support::TimeoutException);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(cut_off);
    EXPECT_FALSE(support::bound_active());
}

TEST(RuntimeLimiter, RunWithinPassesFailuresThroughAndGivesTheOuterBoundBack) {
    auto guard = support::runtime_limiter(5000ms);
    support::run_bounded(guard, [] {
        EXPECT_THROW(support::run_within(100ms, [] { throw std::logic_error("x"); }), std::logic_error);
        EXPECT_TRUE(support::bound_active());
        EXPECT_GT(support::time_left(), 1000ms);  // the run's own bound again, not the 100 ms one
    });
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
