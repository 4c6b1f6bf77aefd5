#include "health/console_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "health/reduction.h"
#include "support/console.h"
#include "health/test_documents.h"

namespace {

using health::debug_report_text;
using health::HealthSnapshot;
using support::Json;
using health_test::fan;
using health_test::temperature;
using health_test::voltage;

// Text, integers of both signs and widths, reals in both notations and not
// finite, true, false, null, "N/A", non-ASCII names, an array and an object.
HealthSnapshot every_kind() {
    HealthSnapshot snapshot;
    snapshot[health::Item::storageName] = "Armazenamento Ünï 1";
    snapshot[health::Item::storageHealth] = 1;
    snapshot[health::Item::storageHealthRollup] = 0;
    snapshot[health::Item::storageState] = 1;
    snapshot[health::Item::PowerControlName] = nullptr;
    snapshot[health::Item::PowerControlConsumedWatts] = 482.5;
    snapshot[health::Item::PowerControlHealth] = 1;
    snapshot[health::Item::PowerControlState] = 0;
    snapshot[health::List::Voltages] = {voltage("P12V", 12.04, 1, 1), voltage("P12V", -12, 0, 1)};
    snapshot[health::List::Fans] = {fan("Fan 1", 5160, 1, 1), fan("Pwm 1", true, 0, 0),
                                          fan("Fan 10", std::numeric_limits<std::uint64_t>::max(), 1, 1)};
    snapshot[health::List::Temperatures] = {temperature("Temp °C", "N/A", 1, 0), temperature("Die CPU1", -0.0, 1, 1),
                                           temperature("Sensor 3", {{"raw", 41}}, 0, 0)};
    snapshot[health::Item::totalPower] = 1e16;
    snapshot[health::Item::totalPowerMax] = 5400.0;
    snapshot[health::Item::totalPowerMin] = 9e-05;
    snapshot[health::Item::totalPowerStatus] = 1;
    snapshot[health::Item::totalPowerState] = 0;
    snapshot[health::Item::totalPowerThresholdLowerCritical] = nullptr;
    snapshot[health::Item::totalPowerThresholdUpperCritical] = "N/A";
    snapshot[health::Item::peakPower] = std::nan("");
    snapshot[health::Item::peakPowerThresholdLowerCaution] = INFINITY;
    snapshot[health::Item::peakPowerThresholdUpperCaution] = -INFINITY;
    snapshot[health::Item::peakPowerThresholdLowerCritical] = false;
    snapshot[health::Item::peakPowerThresholdUpperCritical] = Json::array({1500, "W"});
    snapshot[health::Item::peakPowerStatus] = 0;
    snapshot[health::Item::peakPowerState] = 1;
    return snapshot;
}

TEST(DebugReport, EveryValueKindByteForByte) {
    EXPECT_EQ(debug_report_text(every_kind()), kit::testdata_bytes("report/every_kind.txt"));
}

TEST(DebugReport, EmptyListsAndStartingValuesStillPrintEveryFixedLine) {
    EXPECT_EQ(debug_report_text(HealthSnapshot{}), kit::testdata_bytes("report/starting_values.txt"));
}

TEST(DebugReport, FromTheCapturedDocuments) {
    const std::string report = debug_report_text(health::build_snapshot(health_test::healthy_documents()));
    const std::string p12v =
        "\x1b[0;32mNome da Fonte: \x1b[0;0mP12V\n"
        "\x1b[0;32mVoltagem: \x1b[0;0m12.04 V\n"
        "\x1b[0;32mEstado da Fonte Health: \x1b[0;0m1\n"
        "\x1b[0;32mEstado da Fonte State: \x1b[0;0m1\n\n";
    EXPECT_NE(report.find(p12v), std::string::npos);
    EXPECT_NE(report.find("\x1b[0;32mTemperatura: \x1b[0;0m34.38 °C\n"), std::string::npos);
    EXPECT_NE(report.find("\x1b[0;32mVelocidade: \x1b[0;0m5160 RPM\n"), std::string::npos);
    EXPECT_NE(report.find("\x1b[0;32mPotência Consumida (Watts): \x1b[0;0m482.5\n"), std::string::npos);
    EXPECT_NE(report.find("\x1b[0;32mLimite Superior de Cautela: \x1b[0;0m1400.0 W\n"), std::string::npos);
}

TEST(DebugReport, PrintingWritesTheReport) {
    const HealthSnapshot snapshot = every_kind();
    testing::internal::CaptureStdout();
    health::print_debug_report(snapshot);
    support::flush_console();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), debug_report_text(snapshot));
}

}  // namespace

namespace {

TEST(DebugReport, AFanInPercentShowsPercentAndThePeakIntervalOnlyWhenPublished) {
    HealthSnapshot snapshot;
    const health::SensorRow pwm = health_test::fan_in_percent("Pwm 1", 34, "N/A", 1);
    snapshot[health::List::Fans] = {pwm};
    const std::string without_interval = debug_report_text(snapshot);
    EXPECT_NE(without_interval.find("\x1b[0;32mVelocidade: \x1b[0;0m34 %\n"
                                    "\x1b[0;32mEstado do Fan Health: \x1b[0;0mN/A\n"),
              std::string::npos);
    EXPECT_EQ(without_interval.find("Intervalo"), std::string::npos);
    snapshot[health::Item::peakPowerIntervalInMin] = 20;
    EXPECT_NE(debug_report_text(snapshot).find("\x1b[0;32mPotência de Pico (Watts): \x1b[0;0mN/A W\n"
                                               "\x1b[0;32mIntervalo da Potência de Pico: \x1b[0;0m20 min\n"),
              std::string::npos);
}

}  // namespace
