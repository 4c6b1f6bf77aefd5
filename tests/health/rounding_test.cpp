#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "health/reduction.h"
#include "support/failure.h"

namespace {

using health::rounded_reading;
using support::Json;

double rounded(double value) { return rounded_reading(Json(value), "Power: Voltages[0].ReadingVolts").get<double>(); }

// An oracle independent of the code under test: glibc's printf rounds the
// exact binary value correctly (ties to even), strtod reads back correctly.
double printf_rounded(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.2f", value);
    return std::strtod(text, nullptr);
}

// The tempting shortcut, which rounds the product instead of the exact value.
double naive_rounded(double value) { return std::round(value * 100.0) / 100.0; }

TEST(RoundedReading, TwoDecimalsOfTheExactDouble) {
    const std::pair<double, double> table[] = {
        {3.14159, 3.14}, {11.996, 12.0}, {0.375, 0.38}, {2.675, 2.67},   {0.015, 0.01},
        {0.125, 0.12},   {12.3456, 12.35}, {-2.675, -2.67}, {-0.125, -0.12}, {1.005, 1.0},
        {1e300, 1e300},  {1e-300, 0.0},  {0.0, 0.0},
    };
    for (const auto& [reading, expected] : table) EXPECT_EQ(rounded(reading), expected) << reading;

    const double minus_zero = rounded(-0.004);
    EXPECT_EQ(minus_zero, 0.0);
    EXPECT_TRUE(std::signbit(minus_zero));
}

TEST(RoundedReading, TheTableCatchesMultiplyAndRound) {
    // Each of these is rounded wrongly by the shortcut; the table above holds them.
    for (double reading : {2.675, 0.015, 0.125, -0.125, 29.125}) {
        EXPECT_NE(naive_rounded(reading), printf_rounded(reading)) << reading;
        EXPECT_EQ(rounded(reading), printf_rounded(reading)) << reading;
    }
}

TEST(RoundedReading, AgreesWithCorrectlyRoundedTextForManyReals) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> volts(-300.0, 300.0);
    std::uniform_int_distribution<std::int64_t> hundredths(-3000000, 3000000);
    std::uniform_int_distribution<std::uint64_t> bits;
    int naive_misses = 0;
    for (int i = 0; i < 20000; ++i) {
        // Near-midpoints are where rounding goes wrong; plain readings and raw bit patterns cover the rest.
        const double midpoint = (static_cast<double>(hundredths(random)) + 0.5) / 100.0;
        const double raw = std::bit_cast<double>(bits(random));
        for (double reading : {volts(random), midpoint, raw}) {
            if (!std::isfinite(reading)) continue;
            const double result = rounded(reading);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(result), std::bit_cast<std::uint64_t>(printf_rounded(reading)))
                << reading;
            if (naive_rounded(reading) != result) ++naive_misses;
        }
    }
    EXPECT_GT(naive_misses, 100);  // the samples do reach the cases the shortcut gets wrong
}

TEST(RoundedReading, KindsOtherThanRealsAndNonFiniteValues) {
    const std::string where = "Thermal: Temperatures[0].ReadingCelsius";
    const Json twelve = rounded_reading(Json(12), where);
    EXPECT_TRUE(twelve.is_number_integer());
    EXPECT_EQ(twelve, 12);
    const Json twelve_real = rounded_reading(Json(12.0), where);
    EXPECT_TRUE(twelve_real.is_number_float());

    const Json huge = rounded_reading(Json(std::numeric_limits<std::uint64_t>::max()), where);
    EXPECT_TRUE(huge.is_number_unsigned());
    EXPECT_EQ(huge.get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(rounded_reading(Json(std::numeric_limits<std::int64_t>::min()), where).get<std::int64_t>(),
              std::numeric_limits<std::int64_t>::min());

    const Json one = rounded_reading(Json(true), where);
    EXPECT_TRUE(one.is_number_integer());
    EXPECT_EQ(one, 1);
    const Json zero = rounded_reading(Json(false), where);
    EXPECT_TRUE(zero.is_number_integer());
    EXPECT_EQ(zero, 0);

    EXPECT_TRUE(rounded_reading(Json(nullptr), where).is_null());

    EXPECT_TRUE(std::isnan(rounded_reading(Json(std::nan("")), where).get<double>()));
    EXPECT_EQ(rounded_reading(Json(INFINITY), where).get<double>(), INFINITY);
    EXPECT_EQ(rounded_reading(Json(-INFINITY), where).get<double>(), -INFINITY);
    const double largest = std::numeric_limits<double>::max();
    EXPECT_EQ(rounded_reading(Json(-largest), where).get<double>(), -largest);
}

TEST(RoundedReading, TextArraysAndObjectsFailNamingTheReading) {
    const std::string where = "Thermal: Temperatures[3].ReadingCelsius";
    const std::pair<Json, std::string> cases[] = {
        {Json("41.5"), R"(Thermal: Temperatures[3].ReadingCelsius is the text "41.5", expected a number)"},
        {Json("N/A"), R"(Thermal: Temperatures[3].ReadingCelsius is the text "N/A", expected a number)"},
        {Json::array({41.5}), "Thermal: Temperatures[3].ReadingCelsius is an array, expected a number"},
        {Json::object(), "Thermal: Temperatures[3].ReadingCelsius is an object, expected a number"},
    };
    for (const auto& [reading, message] : cases) {
        try {
            rounded_reading(reading, where);
            ADD_FAILURE() << "no failure for " << reading.dump();
        } catch (const support::Failure& failure) {
            EXPECT_EQ(failure.kind, support::FailureKind::DocumentError);
            EXPECT_EQ(std::string(failure.what()), message);
        }
    }
}

}  // namespace
