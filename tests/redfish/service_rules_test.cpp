// The generic mode's rules against the captured services: the documents
// they assemble hold what the capture holds where the rules say it lives
// (the right chassis's total power, the right peak, the worst storage
// status), every list with its rows, fans in percent kept apart, names made
// unique only where they repeat, and nothing made up where a BMC publishes
// nothing. In-process: the store asks the scenario as bmc-sim would answer.
#include <gtest/gtest.h>

#include <set>

#include "kit/capture_facts.h"
#include "kit/served_store.h"
#include "kit/test_bmc.h"
#include "redfish/service_rules.h"
#include "redfish/service_walk.h"

namespace {

using support::Json;

using kit::held_at;

bmc_sim::Scenario current_tree(const std::string& index = "index.json") {
    return bmc_sim::load_scenario(kit::testdata_dir("openbmc/current_tree") / index);
}

redfish::Documents documents_of(const bmc_sim::Scenario& scenario, std::vector<std::string>* asked = nullptr) {
    auto store = kit::store_serving(scenario, asked);
    return redfish::read_service(store);
}

std::size_t percent_fans(const Json& thermal) {
    std::size_t count = 0;
    for (const auto& fan : thermal["Fans"]) count += fan.value("ReadingUnits", "") == "Percent";
    return count;
}

void expect_unique_names(const Json& array, const std::string& what) {
    std::set<std::string> names;
    for (const auto& row : array)
        EXPECT_TRUE(names.insert(row["Name"].get<std::string>()).second) << what << ": " << row;
}

class EachCapture : public testing::TestWithParam<kit::CaptureFacts> {};

TEST_P(EachCapture, DocumentsHoldWhatTheCaptureHoldsWhereTheRulesSayItLives) {
    const kit::CaptureFacts& expected = GetParam();
    const auto scenario = kit::capture_scenario(expected.name);
    const auto documents = documents_of(scenario);

    const Json& total = *documents.getChassiTotalPower;
    EXPECT_EQ(total["Reading"], kit::held_total_power(scenario, expected));
    if (!expected.limits_path.empty()) {
        const Json limits = held_at(scenario, expected.limits_path, "Thresholds");
        for (const auto* limit : {"UpperCritical", "LowerCritical"}) {
            const Json published = limits.contains(limit) ? Json{{"Reading", limits[limit]["Reading"]}} : Json();
            EXPECT_EQ(total["Thresholds"].value(limit, Json()), published) << limit;
        }
    } else {
        EXPECT_EQ(total["Thresholds"], Json::object());
    }

    const Json& peak = *documents.getChassiPeakPower;
    if (expected.peak_path.empty()) {
        EXPECT_EQ(peak, Json::object());
    } else {
        EXPECT_EQ(peak["Reading"], kit::held_peak_power(scenario, expected));
        EXPECT_EQ(peak["IntervalInMin"],
                  held_at(scenario, expected.peak_path, "PowerControl")[0]["PowerMetrics"]["IntervalInMin"]);
    }

    const Json& status = (*documents.getStorage)["Status"];
    EXPECT_EQ(status.value("Health", ""), expected.health);
    EXPECT_EQ(status.value("HealthRollup", ""), expected.rollup);
    EXPECT_EQ(status.value("State", ""), expected.state);

    const Json& power = *documents.getChassiPower;
    const Json& thermal = *documents.getChassiThermal;
    EXPECT_EQ(power["Voltages"].size(), expected.voltages);
    EXPECT_EQ(thermal["Fans"].size(), expected.fans);
    EXPECT_EQ(thermal["Temperatures"].size(), expected.temperatures);
    EXPECT_EQ(percent_fans(thermal), expected.fans_in_percent);
    expect_unique_names(power["Voltages"], "voltages");
    expect_unique_names(thermal["Fans"], "fans");
    expect_unique_names(thermal["Temperatures"], "temperatures");
}

INSTANTIATE_TEST_SUITE_P(Captures, EachCapture, testing::ValuesIn(kit::kCaptureFacts),
                         [](const auto& info) { return kit::test_name_of(info.param); });

TEST(ServiceRules, CurrentBmcwebGivesTheOldDocumentsMachineWithFansBySensorAndNoStorageHealth) {
    for (const std::string index : {"index.json", "index_query_enabled.json"}) {
        SCOPED_TRACE(index);
        const auto scenario = current_tree(index);
        std::vector<std::string> asked;
        const auto documents = documents_of(scenario, &asked);
        EXPECT_EQ(documents.getChassiTotalPower->at("Reading"), 482.5);
        EXPECT_EQ(documents.getChassiTotalPower->at("Thresholds"),
                  held_at(scenario, "/redfish/v1/Chassis/chassis/Sensors/power_total_power", "Thresholds"));
        EXPECT_EQ(documents.getChassiPeakPower->at("Reading"), 731.0);
        EXPECT_EQ((*documents.getStorage)["Status"], Json({{"State", "Enabled"}}));
        const Json& fans = (*documents.getChassiThermal)["Fans"];
        ASSERT_EQ(fans.size(), 8u) << fans;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(fans[i]["Name"], "Fan " + std::to_string(i + 1));
            EXPECT_FALSE(fans[i].contains("ReadingUnits"));
            EXPECT_EQ(fans[4 + i]["Name"], "Pwm " + std::to_string(i + 1));
            EXPECT_EQ(fans[4 + i]["ReadingUnits"], "Percent");
        }
        EXPECT_EQ(fans[0]["Reading"], 5160);
        EXPECT_TRUE(fans[0]["Reading"].is_number_integer());
        // The five old paths are asked first and answer 404; after the first
        // the walk starts from the service root.
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked[0], "/redfish/v1/Systems/system/Storage/1");
        EXPECT_EQ(asked[1], "/redfish/v1");
        EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), asked.size()) << "a path asked twice";
    }
}

TEST(ServiceRules, RepeatedNamesTakeTheirIdAndNamesThatOccurOnceStayAsTheyAre) {
    const auto documents = documents_of(kit::capture_scenario("hpe-ilo5-dl385-gen10plus-v2"));
    std::set<std::string> names;
    for (const auto& row : (*documents.getChassiThermal)["Temperatures"]) names.insert(row["Name"]);
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
    const auto documents = documents_of(scenario);
    const Json& fans = (*documents.getChassiThermal)["Fans"];
    std::vector<std::string> names;
    for (const auto& fan : fans) names.push_back(fan["Name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"Fan Bay 1", "Fan Bay 2", "Fan for CPU 1", "Fan for CPU 2"}));
    EXPECT_EQ(fans[0]["Reading"], 2200);  // SpeedRPM, not the 45 % of its sensor
    EXPECT_EQ(percent_fans((*documents.getChassiThermal)), 0u);
}

// GB200's first system links only a part (BMC_0, a Component); the main
// chassis is the first chassis in the collection that is not one. When no
// chassis is a whole enclosure, the main one is the first, and the total
// comes from the first chassis in collection order that publishes one.
TEST(ServiceRules, TheMainChassisIsNoPartAndTheTotalComesFromTheFirstChassisThatPublishesOne) {
    auto scenario = kit::capture_scenario("nvidia-gb200-openbmc");
    const auto as_found = documents_of(scenario);
    EXPECT_EQ(as_found.getChassiTotalPower->at("Name"), "Chassis 0 TotalHSC Power 0");
    EXPECT_EQ(as_found.getChassiTotalPower->at("Reading"),
              held_at(scenario, "/redfish/v1/Chassis/Chassis_0/EnvironmentMetrics", "PowerWatts.Reading"));

    auto chassis = Json::parse(scenario.tree.at("/redfish/v1/Chassis/Chassis_0").body);
    chassis["ChassisType"] = "Component";
    scenario.tree["/redfish/v1/Chassis/Chassis_0"].body = chassis.dump();
    const auto all_parts = documents_of(scenario);
    EXPECT_EQ(all_parts.getChassiTotalPower->at("Reading"), as_found.getChassiTotalPower->at("Reading"));

    scenario.tree.erase("/redfish/v1/Chassis/Chassis_0/EnvironmentMetrics");
    const auto none = documents_of(scenario);
    EXPECT_FALSE(none.getChassiTotalPower->contains("Reading"));
    EXPECT_EQ(*none.getChassiPeakPower, Json::object());
}

// Nothing published: a service whose every document but the root is
// missing gives the five documents, empty.
TEST(ServiceRules, AServiceThatPublishesNothingGivesEmptyDocuments) {
    auto scenario = kit::capture_scenario("dmtf-public-rackmount1");
    const auto root = scenario.tree.at("/redfish/v1");
    scenario.tree = {{"/redfish/v1", root}};
    const auto documents = documents_of(scenario);
    EXPECT_EQ(*documents.getStorage, Json({{"Status", Json::object()}}));
    EXPECT_EQ((*documents.getChassiPower)["Voltages"], Json::array());
    EXPECT_EQ((*documents.getChassiThermal)["Fans"], Json::array());
    EXPECT_EQ((*documents.getChassiThermal)["Temperatures"], Json::array());
    EXPECT_EQ(*documents.getChassiTotalPower, Json::object());
    EXPECT_EQ(*documents.getChassiPeakPower, Json::object());
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
