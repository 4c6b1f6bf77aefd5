// The run's JSON parser asks the run's guard while it builds a document, so
// that the bound and a stop interrupt a long parse.
#include "support/json_parse.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

std::string many_objects(std::size_t count) {
    std::string text = "[{}";
    for (std::size_t i = 1; i < count; ++i) text += ",{}";
    return text + "]";
}

TEST(JsonParse, AStopAskedForEndsALongParse) {
    const volatile std::sig_atomic_t stop = SIGTERM;
    support::RunGuard guard = support::run_guard(std::chrono::seconds(60), &stop);
    EXPECT_EQ(support::parse_json("[1, 2]", {8, nullptr, &guard}).size(), 2u);  // too short to ask
    EXPECT_THROW(support::parse_json(many_objects(100000), {8, nullptr, &guard}), support::Interrupted);
}

}  // namespace
