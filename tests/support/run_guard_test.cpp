#include "support/run_guard.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using support::Interrupted;

Interrupted interruption_of(support::RunGuard& guard) {
    try {
        support::time_left(guard);
    } catch (const Interrupted& interrupted) {
        return interrupted;
    }
    ADD_FAILURE() << "time_left did not raise";
    return {Interrupted::Cause::Stop, ""};
}

TEST(RunGuard, TimeLeftShrinksThenRaisesTheLimitNamedInSeconds) {
    for (const auto& [limit, text] : {std::pair{50ms, "0.05"}, std::pair{900000ms, "900"}}) {
        auto guard = support::run_guard(limit);
        const auto first = support::time_left(guard);
        EXPECT_LE(first, limit);
        EXPECT_GT(first, limit / 2);
        guard.deadline = std::chrono::steady_clock::now() - 1ms;
        const auto interrupted = interruption_of(guard);
        EXPECT_EQ(interrupted.cause, Interrupted::Cause::TimeLimit);
        EXPECT_EQ(interrupted.what(), "Tempo limite de execução excedido: " + std::string(text) + " segundos");
        EXPECT_THROW(support::check_deadline(guard), Interrupted);
    }
}

// A stop is raised once, so that the logout after it may still wait; a
// guard without the flag never stops.
TEST(RunGuard, AStopSignalIsRaisedOnceByTheGuardsThatHeedIt) {
    volatile std::sig_atomic_t stop = 0;
    auto heeding = support::run_guard(5s, &stop);
    auto deaf = support::run_guard(5s);
    EXPECT_GT(support::time_left(heeding), 4s);
    stop = SIGTERM;
    const auto interrupted = interruption_of(heeding);
    EXPECT_EQ(interrupted.cause, Interrupted::Cause::Stop);
    EXPECT_STREQ(interrupted.what(), "stopped by SIGTERM before the run was done");
    EXPECT_GT(support::time_left(heeding), 4s);
    EXPECT_GT(support::time_left(deaf), 4s);
    EXPECT_NO_THROW(support::check_deadline(heeding));
}

}  // namespace
