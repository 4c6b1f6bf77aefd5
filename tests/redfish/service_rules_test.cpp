// The generic mode's rules against the captured services: what they read
// is what the capture holds where the rules say it lives
// (the right chassis's total power, the right peak, the worst storage
// status), every list with its rows, fans in percent kept apart, names made
// unique only where they repeat, and nothing made up where a BMC publishes
// nothing. In-process: the store asks the scenario as bmc-sim would answer.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "kit/capture_facts.h"
#include "kit/served_store.h"
#include "kit/test_bmc.h"
#include "redfish/service_walk.h"

namespace {

using support::Json;

using kit::held_at;

bmc_sim::Scenario current_tree(const std::string& index = "index.json") {
    return bmc_sim::load_scenario(kit::testdata_dir("openbmc/current_tree") / index);
}

using redfish::Unit;

redfish::ServiceReading reading_of(const bmc_sim::Scenario& scenario, std::vector<std::string>* asked = nullptr) {
    auto store = kit::store_serving(scenario, asked);
    return redfish::read_service(store);
}

std::size_t percent_fans(const redfish::ServiceReading& reading) {
    std::size_t count = 0;
    for (const auto& fan : reading.fans) count += fan.unit == Unit::Percent;
    return count;
}

void expect_unique_names(const std::vector<redfish::SensorReading>& rows, const std::string& what) {
    std::set<std::string> names;
    for (const auto& row : rows) EXPECT_TRUE(names.insert(row.name).second) << what << ": " << row.name;
}

// A published reading as the capture holds it: null when it is not published.
Json held(const std::optional<Json>& value) { return value.value_or(Json()); }

class EachCapture : public testing::TestWithParam<kit::CaptureFacts> {};

TEST_P(EachCapture, WhatIsReadIsWhatTheCaptureHoldsWhereTheRulesSayItLives) {
    const kit::CaptureFacts& expected = GetParam();
    const auto scenario = kit::capture_scenario(expected.name);
    const auto reading = reading_of(scenario);

    const auto& total = reading.total_power;
    EXPECT_EQ(held(total.reading), kit::held_total_power(scenario, expected));
    const Json limits = expected.limits_path.empty() ? Json::object()
                                                     : held_at(scenario, expected.limits_path, "Thresholds");
    EXPECT_EQ(held(total.upper_critical), limits.contains("UpperCritical") ? limits["UpperCritical"]["Reading"] : Json());
    EXPECT_EQ(held(total.lower_critical), limits.contains("LowerCritical") ? limits["LowerCritical"]["Reading"] : Json());

    const auto& peak = reading.peak_power;
    if (expected.peak_path.empty()) {
        EXPECT_FALSE(peak.reading || peak.interval_in_min || peak.status.health || peak.status.state);
    } else {
        EXPECT_EQ(held(peak.reading), kit::held_peak_power(scenario, expected));
        EXPECT_EQ(held(peak.interval_in_min),
                  held_at(scenario, expected.peak_path, "PowerControl")[0]["PowerMetrics"]["IntervalInMin"]);
    }

    const auto& status = reading.storage.status;
    EXPECT_EQ(status.health.value_or(""), expected.health);
    EXPECT_EQ(status.health_rollup.value_or(""), expected.rollup);
    EXPECT_EQ(status.state.value_or(""), expected.state);

    EXPECT_EQ(reading.voltages.size(), expected.voltages);
    EXPECT_EQ(reading.fans.size(), expected.fans);
    EXPECT_EQ(reading.temperatures.size(), expected.temperatures);
    EXPECT_EQ(percent_fans(reading), expected.fans_in_percent);
    expect_unique_names(reading.voltages, "voltages");
    expect_unique_names(reading.fans, "fans");
    expect_unique_names(reading.temperatures, "temperatures");
}

INSTANTIATE_TEST_SUITE_P(Captures, EachCapture, testing::ValuesIn(kit::kCaptureFacts),
                         [](const auto& info) { return kit::test_name_of(info.param); });

TEST(ServiceRules, CurrentBmcwebGivesTheOldMachineWithFansBySensorAndNoStorageHealth) {
    for (const std::string index : {"index.json", "index_query_enabled.json"}) {
        SCOPED_TRACE(index);
        const auto scenario = current_tree(index);
        std::vector<std::string> asked;
        const auto reading = reading_of(scenario, &asked);
        EXPECT_EQ(held(reading.total_power.reading), 482.5);
        const Json limits = held_at(scenario, "/redfish/v1/Chassis/chassis/Sensors/power_total_power", "Thresholds");
        EXPECT_EQ(held(reading.total_power.lower_critical), limits["LowerCritical"]["Reading"]);
        EXPECT_EQ(held(reading.total_power.upper_critical), limits["UpperCritical"]["Reading"]);
        EXPECT_EQ(held(reading.peak_power.reading), 731.0);
        const auto& storage = reading.storage.status;
        EXPECT_EQ(std::make_tuple(storage.health, storage.health_rollup, storage.state),
                  std::make_tuple(std::optional<std::string>(), std::optional<std::string>(),
                                  std::optional<std::string>("Enabled")));
        const auto& fans = reading.fans;
        ASSERT_EQ(fans.size(), 8u);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(fans[i].name, "Fan " + std::to_string(i + 1));
            EXPECT_EQ(fans[i].unit, Unit::Rpm);
            EXPECT_EQ(fans[4 + i].name, "Pwm " + std::to_string(i + 1));
            EXPECT_EQ(fans[4 + i].unit, Unit::Percent);
        }
        EXPECT_EQ(held(fans[0].reading), 5160);
        EXPECT_TRUE(held(fans[0].reading).is_number_integer());
        // The five old paths are asked first and answer 404; after the first
        // the walk starts from the service root.
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked[0], "/redfish/v1/Systems/system/Storage/1");
        EXPECT_EQ(asked[1], "/redfish/v1");
        EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), asked.size()) << "a path asked twice";
    }
}

TEST(ServiceRules, RepeatedNamesTakeTheirIdAndNamesThatOccurOnceStayAsTheyAre) {
    const auto reading = reading_of(kit::capture_scenario("hpe-ilo5-dl385-gen10plus-v2"));
    std::set<std::string> names;
    for (const auto& row : reading.temperatures) names.insert(row.name);
    for (const auto* name :
         {"32-PCI 2-Add-in card (45)", "32-PCI 2-Add-in card (47)", "32-PCI 2-Add-in card (48)",
          "38-PCI 5-I/O module (50)", "38-PCI 5-I/O module (51)", "38-PCI 5-I/O module (52)", "01-Inlet Ambient"})
        EXPECT_TRUE(names.count(name)) << name;
    EXPECT_FALSE(names.count("32-PCI 2-Add-in card"));
}

// A sensor reached twice gives one row: DMTF's fan resources name their
// sensors (FanBay1, CPUFan1, ...) in SpeedPercent.DataSourceUri.
TEST(ServiceRules, AFanResourceAndTheSensorItNamesGiveOneRow) {
    auto scenario = kit::capture_scenario("dmtf-public-rackmount1");
    auto chassis = Json::parse(scenario.tree.at("/redfish/v1/Chassis/1U").body);
    chassis.erase("Thermal");
    scenario.tree["/redfish/v1/Chassis/1U"].body = chassis.dump();
    const auto reading = reading_of(scenario);
    std::vector<std::string> names;
    for (const auto& fan : reading.fans) names.push_back(fan.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Fan Bay 1", "Fan Bay 2", "Fan for CPU 1", "Fan for CPU 2"}));
    EXPECT_EQ(held(reading.fans[0].reading), 2200);  // SpeedRPM, not the 45 % of its sensor
    EXPECT_EQ(percent_fans(reading), 0u);
}

// GB200's first system links only a part (BMC_0, a Component); the main
// chassis is the first chassis in the collection that is not one. When no
// chassis is a whole enclosure, the main one is the first, and the total
// comes from the first chassis in collection order that publishes one.
TEST(ServiceRules, TheMainChassisIsNoPartAndTheTotalComesFromTheFirstChassisThatPublishesOne) {
    auto scenario = kit::capture_scenario("nvidia-gb200-openbmc");
    const auto as_found = reading_of(scenario);
    EXPECT_EQ(as_found.total_power.name, "Chassis 0 TotalHSC Power 0");
    EXPECT_EQ(held(as_found.total_power.reading),
              held_at(scenario, "/redfish/v1/Chassis/Chassis_0/EnvironmentMetrics", "PowerWatts.Reading"));

    auto chassis = Json::parse(scenario.tree.at("/redfish/v1/Chassis/Chassis_0").body);
    chassis["ChassisType"] = "Component";
    scenario.tree["/redfish/v1/Chassis/Chassis_0"].body = chassis.dump();
    const auto all_parts = reading_of(scenario);
    EXPECT_EQ(held(all_parts.total_power.reading), held(as_found.total_power.reading));

    scenario.tree.erase("/redfish/v1/Chassis/Chassis_0/EnvironmentMetrics");
    const auto none = reading_of(scenario);
    EXPECT_FALSE(none.total_power.reading);
    EXPECT_FALSE(none.peak_power.reading || none.peak_power.name || none.peak_power.status.health);
}

// Nothing published: a service whose every document but the root is
// missing gives nothing at all.
TEST(ServiceRules, AServiceThatPublishesNothingGivesNothing) {
    auto scenario = kit::capture_scenario("dmtf-public-rackmount1");
    const auto root = scenario.tree.at("/redfish/v1");
    scenario.tree = {{"/redfish/v1", root}};
    const auto reading = reading_of(scenario);
    for (const auto* part : {&reading.storage, &reading.power_control, &reading.total_power, &reading.peak_power})
        for (int member = 0; member <= static_cast<int>(redfish::Member::State); ++member)
            EXPECT_FALSE(redfish::published(*part, static_cast<redfish::Member>(member))) << member;
    EXPECT_TRUE(reading.voltages.empty() && reading.fans.empty() && reading.temperatures.empty());
}

TEST(ServiceRules, OnlyRedfishPathsOnTheBmcAreFollowed) {
    EXPECT_EQ(redfish::odata_path("/redfish/v1/Chassis/chassis"), "/redfish/v1/Chassis/chassis");
    EXPECT_EQ(redfish::odata_path("https://elsewhere.example:8443/redfish/v1/Systems/1"), "/redfish/v1/Systems/1");
    EXPECT_EQ(redfish::odata_path("/redfish/v1/Systems/system/Storage/1#/StorageControllers/0"),
              "/redfish/v1/Systems/system/Storage/1");
    EXPECT_EQ(redfish::odata_path("/redfish/v1"), "/redfish/v1");
    for (const Json& refused : {Json("/other/v1/x"), Json("redfish/v1/x"), Json("/redfish/v10"),
                                Json("/redfish/v1/a b"), Json("/redfish/v1/a\r\nX: y"), Json(12), Json(nullptr)})
        EXPECT_EQ(redfish::odata_path(refused), std::nullopt) << refused.dump();
}

}  // namespace
