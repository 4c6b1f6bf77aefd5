// The pieces of discoveryRedfish that decide where a request may go and what
// an assembled document holds.
#include <gtest/gtest.h>

#include "redfish/discovery.h"

namespace {

using support::Json;

TEST(Discovery, OnlyRedfishPathsOnTheBmcAreFollowed) {
    EXPECT_EQ(redfish::odata_path("/redfish/v1/Chassis/chassis"), "/redfish/v1/Chassis/chassis");
    EXPECT_EQ(redfish::odata_path("https://elsewhere.example:8443/redfish/v1/Systems/1"), "/redfish/v1/Systems/1");
    EXPECT_EQ(redfish::odata_path("/redfish/v1/Systems/system/Storage/1#/StorageControllers/0"),
              "/redfish/v1/Systems/system/Storage/1");
    EXPECT_EQ(redfish::odata_path("/redfish/v1"), "/redfish/v1");
    for (const Json& refused : {Json("/other/v1/x"), Json("redfish/v1/x"), Json("/redfish/v10"),
                                Json("/redfish/v1/a b"), Json("/redfish/v1/a\r\nX: y"), Json(12), Json(nullptr)})
        EXPECT_EQ(redfish::odata_path(refused), std::nullopt) << refused.dump();
}

TEST(Discovery, AssembledDocumentsCarryWhatTheReductionReadsSortedByName) {
    const std::vector<redfish::Member> sensors = {
        {"/redfish/v1/Chassis/c/Sensors/voltage_P3V3",
         {{"Name", "P3V3"}, {"Reading", 3.3}, {"ReadingType", "Voltage"}, {"Status", {{"Health", "OK"}}}}},
        {"/redfish/v1/Chassis/c/Sensors/voltage_P12V", {{"Name", "P12V"}, {"ReadingType", "Voltage"}}},
        {"/redfish/v1/Chassis/c/Sensors/power_total_power",
         {{"Name", "total power"}, {"Reading", 480.0}, {"ReadingType", "Power"}, {"Status", {{"State", "Enabled"}}}}},
        {"/redfish/v1/Chassis/c/Sensors/power_PSU1", {{"Name", "PSU1"}, {"Reading", 1.0}, {"ReadingType", "Power"}}},
        {"/redfish/v1/Chassis/c/Sensors/temperature_T", {{"Name", "T"}, {"Reading", nullptr}, {"ReadingType", "Temperature"}}},
    };
    const Json power = redfish::assembled_power(sensors);
    EXPECT_EQ(power["PowerControl"],
              Json::parse(R"([{"Name":"Chassis Power Control","PowerConsumedWatts":480.0,"Status":{"State":"Enabled"}}])"));
    EXPECT_EQ(power["Voltages"],
              Json::parse(R"([{"Name":"P12V"},{"Name":"P3V3","ReadingVolts":3.3,"Status":{"Health":"OK"}}])"));

    const std::vector<redfish::Member> fans = {
        {"/f/Pwm_1", {{"Name", "Pwm 1"}, {"SpeedPercent", {{"Reading", 34.0}}}}},
        {"/f/Fan_1", {{"Name", "Fan 1"}, {"SpeedPercent", {{"Reading", 40.0}, {"SpeedRPM", 5160.7}}}}},
        {"/f/Fan_2", {{"Name", "Fan 2"}, {"SpeedRPM", nullptr}}},
        {"/f/Fan_3", {{"Name", "Fan 3"}}},
    };
    const Json thermal = redfish::assembled_thermal(sensors, fans);
    EXPECT_EQ(thermal["Fans"], Json::parse(R"([{"Name":"Fan 1","Reading":5160},{"Name":"Fan 2","Reading":null},
                                               {"Name":"Fan 3"},{"Name":"Pwm 1","Reading":34}])"));
    EXPECT_TRUE(thermal["Fans"][0]["Reading"].is_number_integer());
    EXPECT_EQ(thermal["Temperatures"], Json::parse(R"([{"Name":"T","ReadingCelsius":null}])"));
}

}  // namespace
