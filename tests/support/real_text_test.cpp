#include "support/real_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <cstring>

namespace {

using support::NonFinite;
using support::real_text;

TEST(RealText, PositionalAndScientificAcrossTheBoundaries) {
    const std::vector<std::pair<double, std::string>> table = {
        {12.0, "12.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {12.35, "12.35"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {9e-05, "9e-05"},
        {0.00012, "0.00012"},
        {1e15, "1000000000000000.0"},
        {9999999999999998.0, "9999999999999998.0"},
        {1e16, "1e+16"},
        {1.5e300, "1.5e+300"},
        {-1.5e300, "-1.5e+300"},
        {-482.5, "-482.5"},
        {24.987000000000002, "24.987000000000002"},
        {16.014234875444842, "16.014234875444842"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {-std::numeric_limits<double>::denorm_min(), "-5e-324"},
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {9007199254740993.0, "9007199254740992.0"},
        {18446744073709551616.0, "1.8446744073709552e+19"},
        {123456789012345678.0, "1.2345678901234568e+17"},
        {1e22, "1e+22"},
        {1e-100, "1e-100"},
        {0.1, "0.1"},
        {100.0, "100.0"},
    };
    for (const auto& [value, text] : table) EXPECT_EQ(real_text(value), text) << text;
}

TEST(RealText, NonFiniteValuesInBothStyles) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(real_text(nan), "nan");
    EXPECT_EQ(real_text(inf), "inf");
    EXPECT_EQ(real_text(-inf), "-inf");
    EXPECT_EQ(real_text(nan, NonFinite::Json), "NaN");
    EXPECT_EQ(real_text(inf, NonFinite::Json), "Infinity");
    EXPECT_EQ(real_text(-inf, NonFinite::Json), "-Infinity");
}

TEST(RealText, EveryTextReadsBackToTheSameDouble) {
    std::mt19937_64 random(42);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = real_text(value);
        double back = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(result.ec, std::errc()) << text;
        ASSERT_EQ(result.ptr, text.data() + text.size()) << text;
        ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
        ASSERT_TRUE(text.find('.') != std::string::npos || text.find('e') != std::string::npos) << text;
    }
}

}  // namespace
