#include "health/reduction.h"
#include "health/service_reduction.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "health/test_documents.h"
#include "support/failure.h"
#include "support/json_text.h"

namespace {

using health::build_snapshot;
using health::HealthSnapshot;
using health_test::healthy_documents;
using support::Json;

// "kind: message" of the failure the reduction raises, or "" when it succeeds.
std::string failure_of(const redfish::Documents& documents) {
    try {
        build_snapshot(documents);
    } catch (const support::Failure& failure) {
        return std::string(support::kind_name(failure.kind)) + ": " + failure.what();
    }
    return "";
}

std::string document_error(const std::string& message) { return "DocumentError: " + message; }

// The healthy documents with one change.
redfish::Documents healthy_with(const std::function<void(redfish::Documents&)>& change) {
    auto documents = healthy_documents();
    change(documents);
    return documents;
}

void expect_real(const Json& value, double expected) {
    ASSERT_TRUE(value.is_number_float()) << value.dump();
    EXPECT_EQ(value.get<double>(), expected);
}

void expect_integer(const Json& value, std::int64_t expected) {
    ASSERT_TRUE(value.is_number_integer()) << value.dump();
    EXPECT_EQ(value.get<std::int64_t>(), expected);
}

// The rows of a list as its discovery document carries them.
std::vector<Json> lld_rows(const HealthSnapshot& snapshot, health::List list) {
    std::vector<Json> rows;
    for (const auto& row : snapshot[list]) rows.push_back(health::lld_row(health::kDiscoveryLists[int(list)], row));
    return rows;
}

const Json* row_named(const std::vector<Json>& rows, const std::string& macro, const std::string& name) {
    for (const auto& row : rows)
        if (row.at(macro) == name) return &row;
    return nullptr;
}

TEST(HealthyMachine, ScalarFieldsKeepTheirValuesAndKinds) {
    const HealthSnapshot snapshot = build_snapshot(healthy_documents());
    EXPECT_EQ(snapshot[health::Item::storageName], "Storage");
    expect_integer(snapshot[health::Item::storageHealth], 1);
    expect_integer(snapshot[health::Item::storageHealthRollup], 1);
    expect_integer(snapshot[health::Item::storageState], 1);
    EXPECT_EQ(snapshot[health::Item::PowerControlName], "Chassis Power Control");
    expect_real(snapshot[health::Item::PowerControlConsumedWatts], 482.5);
    expect_integer(snapshot[health::Item::PowerControlHealth], 1);
    expect_integer(snapshot[health::Item::PowerControlState], 1);
    expect_real(snapshot[health::Item::totalPower], 482.5);
    expect_real(snapshot[health::Item::totalPowerMax], 5400.0);
    expect_real(snapshot[health::Item::totalPowerMin], 0.0);
    expect_integer(snapshot[health::Item::totalPowerStatus], 1);
    expect_integer(snapshot[health::Item::totalPowerState], 1);
    expect_real(snapshot[health::Item::totalPowerThresholdLowerCritical], 50.0);
    expect_real(snapshot[health::Item::totalPowerThresholdUpperCritical], 1600.0);
    expect_real(snapshot[health::Item::peakPower], 731.0);
    expect_real(snapshot[health::Item::peakPowerThresholdLowerCaution], 20.0);
    expect_real(snapshot[health::Item::peakPowerThresholdUpperCaution], 1400.0);
    expect_real(snapshot[health::Item::peakPowerThresholdLowerCritical], 0.0);
    expect_real(snapshot[health::Item::peakPowerThresholdUpperCritical], 1500.0);
    expect_integer(snapshot[health::Item::peakPowerStatus], 1);
    expect_integer(snapshot[health::Item::peakPowerState], 1);
}

TEST(HealthyMachine, DiscoveryRowsInDocumentOrderWithRoundedReadings) {
    const HealthSnapshot snapshot = build_snapshot(healthy_documents());
    ASSERT_EQ(lld_rows(snapshot, health::List::Voltages).size(), 16u);
    ASSERT_EQ(lld_rows(snapshot, health::List::Fans).size(), 8u);
    ASSERT_EQ(lld_rows(snapshot, health::List::Temperatures).size(), 18u);

    EXPECT_EQ(support::json_text(lld_rows(snapshot, health::List::Voltages).front()),
              R"({"{#VOLTAGE_NAME}": "P0V83 LAN AUX", "{#READING_VOLTS}": 0.83, "{#VOLTAGE_HEALTH}": 1, )"
              R"("{#VOLTAGE_STATE}": 1})");
    EXPECT_EQ(support::json_text(lld_rows(snapshot, health::List::Fans).front()),
              R"({"{#FAN_NAME}": "Fan 1", "{#READING_RPM}": 5160, "{#FAN_HEALTH}": 1, "{#FAN_STATE}": 1})");
    EXPECT_EQ(support::json_text(lld_rows(snapshot, health::List::Temperatures).back()),
              R"({"{#TEMP_NAME}": "VR 2 Temp", "{#READING_CELSIUS}": 39.75, "{#TEMP_HEALTH}": 1, )"
              R"("{#TEMP_STATE}": 1})");
    EXPECT_EQ(lld_rows(snapshot, health::List::Voltages)[2].at("{#VOLTAGE_NAME}"), "P12V");
    const auto voltage_rows = lld_rows(snapshot, health::List::Voltages);
    const auto temperature_rows = lld_rows(snapshot, health::List::Temperatures);
    const auto fan_rows = lld_rows(snapshot, health::List::Fans);

    const std::pair<const char*, double> volts[] = {
        {"P12V", 12.04}, {"P12V AUX", 12.02}, {"P1V8 PCH", 1.8}, {"P3VBAT", 3.04}, {"PSU1 Input Voltage", 230.0},
        {"PVCCIN CPU2", 1.78}, {"PVCCIO CPU2", 1.0}};
    for (const auto& [name, reading] : volts) {
        const Json* row = row_named(voltage_rows, "{#VOLTAGE_NAME}", name);
        ASSERT_NE(row, nullptr) << name;
        expect_real(row->at("{#READING_VOLTS}"), reading);
    }
    // 34.375, 27.875 and 29.125 are exact ties in binary: they go to the even digit.
    const std::pair<const char*, double> celsius[] = {{"BMC Temp", 34.38},       {"PSU1 Temperature", 27.88},
                                                      {"PSU2 Temperature", 29.12}, {"Inlet BRD Temp", 22.96},
                                                      {"Right Rear Board Temp", 33.06}, {"Die CPU2", 48.25},
                                                      {"VR 1 Temp", 41.19}};
    for (const auto& [name, reading] : celsius) {
        const Json* row = row_named(temperature_rows, "{#TEMP_NAME}", name);
        ASSERT_NE(row, nullptr) << name;
        expect_real(row->at("{#READING_CELSIUS}"), reading);
    }
    const Json* pwm = row_named(fan_rows, "{#FAN_NAME}", "Pwm 3");
    ASSERT_NE(pwm, nullptr);
    expect_integer(pwm->at("{#READING_RPM}"), 40);
}

TEST(StatusFlags, OnlyTheExactWordGivesOne) {
    const std::pair<Json, int> cases[] = {
        {"OK", 1},  {"ok", 0},  {"OK ", 0},    {" OK", 0},    {"Ok", 0}, {nullptr, 0},   {1, 0},
        {1.0, 0},   {true, 0},  {"N/A", 0},    {"", 0},       {Json::array({"OK"}), 0},  {{{"Health", "OK"}}, 0},
    };
    for (const auto& [health, flag] : cases) {
        const auto documents = healthy_with([&, &health = health](redfish::Documents& d) {
            (*d.getStorage)["Status"]["Health"] = health;
            (*d.getChassiTotalPower)["Status"]["Health"] = health;
        });
        const HealthSnapshot snapshot = build_snapshot(documents);
        expect_integer(snapshot[health::Item::storageHealth], flag);
        expect_integer(snapshot[health::Item::totalPowerStatus], flag);
    }
}

TEST(StatusFlags, StateWantsEnabledAndEachFlagItsOwnMember) {
    const auto documents = healthy_with([](redfish::Documents& d) {
        (*d.getStorage)["Status"] = {{"Health", "OK"}, {"HealthRollup", "Warning"}, {"State", "Enabled"}};
        (*d.getChassiPeakPower)["Status"] = {{"Health", "Enabled"}, {"State", "enabled"}};
        (*d.getChassiThermal)["Fans"][0]["Status"] = {{"Health", "OK"}, {"State", "Absent"}};
        (*d.getChassiThermal)["Fans"][1]["Status"] = {{"health", "OK"}, {"State", "OK"}};
    });
    const HealthSnapshot snapshot = build_snapshot(documents);
    expect_integer(snapshot[health::Item::storageHealth], 1);
    expect_integer(snapshot[health::Item::storageHealthRollup], 0);
    expect_integer(snapshot[health::Item::storageState], 1);
    expect_integer(snapshot[health::Item::peakPowerStatus], 0);
    expect_integer(snapshot[health::Item::peakPowerState], 0);
    expect_integer(lld_rows(snapshot, health::List::Fans)[0].at("{#FAN_HEALTH}"), 1);
    expect_integer(lld_rows(snapshot, health::List::Fans)[0].at("{#FAN_STATE}"), 0);
    expect_integer(lld_rows(snapshot, health::List::Fans)[1].at("{#FAN_HEALTH}"), 0);
    expect_integer(lld_rows(snapshot, health::List::Fans)[1].at("{#FAN_STATE}"), 0);
}

TEST(AbsentAndNull, AbsentGivesNotAvailableOrZeroAndNullStaysNull) {
    const auto documents = healthy_with([](redfish::Documents& d) {
        d.getStorage = Json::object();
        (*d.getChassiTotalPower)["Reading"] = nullptr;
        d.getChassiTotalPower->erase("ReadingRangeMax");
        (*d.getChassiTotalPower)["ReadingRangeMin"] = "N/A";
        (*d.getChassiTotalPower)["Thresholds"].erase("UpperCritical");
        (*d.getChassiPeakPower)["Thresholds"]["LowerCaution"] = Json::object();
        d.getChassiPeakPower->erase("Status");
    });
    const HealthSnapshot snapshot = build_snapshot(documents);
    EXPECT_EQ(snapshot[health::Item::storageName], "N/A");
    expect_integer(snapshot[health::Item::storageHealth], 0);
    expect_integer(snapshot[health::Item::storageHealthRollup], 0);
    expect_integer(snapshot[health::Item::storageState], 0);
    EXPECT_TRUE(snapshot[health::Item::totalPower].is_null());
    EXPECT_EQ(snapshot[health::Item::totalPowerMax], "N/A");
    EXPECT_EQ(snapshot[health::Item::totalPowerMin], "N/A");
    expect_real(snapshot[health::Item::totalPowerThresholdLowerCritical], 50.0);
    EXPECT_EQ(snapshot[health::Item::totalPowerThresholdUpperCritical], "N/A");
    EXPECT_EQ(snapshot[health::Item::peakPowerThresholdLowerCaution], "N/A");
    expect_real(snapshot[health::Item::peakPowerThresholdUpperCaution], 1400.0);
    expect_integer(snapshot[health::Item::peakPowerStatus], 0);
    expect_integer(snapshot[health::Item::peakPowerState], 0);

    const auto null_name = healthy_with([](redfish::Documents& d) { (*d.getStorage)["Name"] = nullptr; });
    EXPECT_TRUE(build_snapshot(null_name)[health::Item::storageName].is_null());
}

TEST(PowerControl, LastElementWinsWithAllFourFields) {
    const auto two = healthy_with([](redfish::Documents& d) {
        (*d.getChassiPower)["PowerControl"] = Json::parse(R"([
            {"Name": "A", "PowerConsumedWatts": 100, "Status": {"Health": "OK", "State": "Enabled"}},
            {"Name": "B", "PowerLimit": {"LimitInWatts": null}}])");
    });
    const HealthSnapshot snapshot = build_snapshot(two);
    EXPECT_EQ(snapshot[health::Item::PowerControlName], "B");
    EXPECT_EQ(snapshot[health::Item::PowerControlConsumedWatts], "N/A");
    expect_integer(snapshot[health::Item::PowerControlHealth], 0);
    expect_integer(snapshot[health::Item::PowerControlState], 0);

    for (const Json& empty : {Json::array(), Json::object(), Json("")}) {
        const auto none = healthy_with([&](redfish::Documents& d) { (*d.getChassiPower)["PowerControl"] = empty; });
        const HealthSnapshot starting = build_snapshot(none);
        EXPECT_EQ(starting[health::Item::PowerControlName], "N/A");
        EXPECT_EQ(starting[health::Item::PowerControlConsumedWatts], "N/A");
        expect_integer(starting[health::Item::PowerControlHealth], 0);
        expect_integer(starting[health::Item::PowerControlState], 0);
    }
    const auto absent = healthy_with([](redfish::Documents& d) { d.getChassiPower->erase("PowerControl"); });
    EXPECT_EQ(build_snapshot(absent)[health::Item::PowerControlName], "N/A");
}

TEST(PowerControl, AnEarlierBadElementStillEndsTheRun) {
    const auto bad_status = healthy_with([](redfish::Documents& d) {
        (*d.getChassiPower)["PowerControl"] = Json::parse(R"([{"Name": "A", "Status": null}, {"Name": "B"}])");
    });
    EXPECT_EQ(failure_of(bad_status), document_error("Power: PowerControl[0].Status is null, expected an object"));

    const auto bad_element = healthy_with([](redfish::Documents& d) {
        (*d.getChassiPower)["PowerControl"] = Json::parse(R"([{"Name": "A"}, 7, {"Name": "C"}])");
    });
    EXPECT_EQ(failure_of(bad_element),
              document_error("Power: PowerControl[1] is the integer 7, expected an object"));
}

TEST(DiscoveryRows, ReadingKindsPerList) {
    const auto documents = healthy_with([](redfish::Documents& d) {
        auto& volts = (*d.getChassiPower)["Voltages"];
        volts[0]["ReadingVolts"] = 12;
        volts[1]["ReadingVolts"] = 12.0;
        volts[2]["ReadingVolts"] = 12.3456;
        volts[3].erase("ReadingVolts");
        volts[4]["ReadingVolts"] = nullptr;
        volts[5]["ReadingVolts"] = true;
        auto& fans = (*d.getChassiThermal)["Fans"];
        fans[0]["Reading"] = 12.3456;
        fans[1].erase("Reading");
        fans[2]["Reading"] = nullptr;
        fans[3]["Reading"] = "fast";
        auto& temps = (*d.getChassiThermal)["Temperatures"];
        temps[0]["ReadingCelsius"] = nullptr;
        temps[1].erase("ReadingCelsius");
        temps[2]["ReadingCelsius"] = -3;
    });
    const HealthSnapshot snapshot = build_snapshot(documents);
    const auto volts = lld_rows(snapshot, health::List::Voltages);
    expect_integer(volts[0].at("{#READING_VOLTS}"), 12);
    expect_real(volts[1].at("{#READING_VOLTS}"), 12.0);
    expect_real(volts[2].at("{#READING_VOLTS}"), 12.35);
    EXPECT_EQ(volts[3].at("{#READING_VOLTS}"), "N/A");
    EXPECT_TRUE(volts[4].at("{#READING_VOLTS}").is_null());
    expect_integer(volts[5].at("{#READING_VOLTS}"), 1);
    const auto fans = lld_rows(snapshot, health::List::Fans);
    expect_real(fans[0].at("{#READING_RPM}"), 12.3456);
    EXPECT_EQ(fans[1].at("{#READING_RPM}"), "N/A");
    EXPECT_TRUE(fans[2].at("{#READING_RPM}").is_null());
    EXPECT_EQ(fans[3].at("{#READING_RPM}"), "fast");
    const auto temps = lld_rows(snapshot, health::List::Temperatures);
    EXPECT_TRUE(temps[0].at("{#READING_CELSIUS}").is_null());
    EXPECT_EQ(temps[1].at("{#READING_CELSIUS}"), "N/A");
    expect_integer(temps[2].at("{#READING_CELSIUS}"), -3);
}

TEST(DiscoveryRows, RepeatedNamesStayAndSparseElementsGiveDefaults) {
    const auto documents = healthy_with([](redfish::Documents& d) {
        (*d.getChassiThermal)["Fans"] = Json::parse(R"([
            {"Name": "Fan 1", "Reading": 100, "Status": {"Health": "OK", "State": "Enabled"}},
            {"Name": "Fan 1", "Reading": 200},
            {}])");
        d.getChassiThermal->erase("Temperatures");
    });
    const HealthSnapshot snapshot = build_snapshot(documents);
    ASSERT_EQ(lld_rows(snapshot, health::List::Fans).size(), 3u);
    EXPECT_EQ(support::json_text(lld_rows(snapshot, health::List::Fans)[0]),
              R"({"{#FAN_NAME}": "Fan 1", "{#READING_RPM}": 100, "{#FAN_HEALTH}": 1, "{#FAN_STATE}": 1})");
    EXPECT_EQ(support::json_text(lld_rows(snapshot, health::List::Fans)[1]),
              R"({"{#FAN_NAME}": "Fan 1", "{#READING_RPM}": 200, "{#FAN_HEALTH}": 0, "{#FAN_STATE}": 0})");
    EXPECT_EQ(support::json_text(lld_rows(snapshot, health::List::Fans)[2]),
              R"({"{#FAN_NAME}": "N/A", "{#READING_RPM}": "N/A", "{#FAN_HEALTH}": 0, "{#FAN_STATE}": 0})");
    EXPECT_TRUE(lld_rows(snapshot, health::List::Temperatures).empty());
}

TEST(DiscoveryRows, EmptyObjectEmptyTextAndAbsenceGiveNoElements) {
    for (const Json& empty : {Json::array(), Json::object(), Json("")}) {
        const auto documents = healthy_with([&](redfish::Documents& d) {
            (*d.getChassiPower)["Voltages"] = empty;
            (*d.getChassiThermal)["Temperatures"] = empty;
        });
        const HealthSnapshot snapshot = build_snapshot(documents);
        EXPECT_TRUE(lld_rows(snapshot, health::List::Voltages).empty()) << empty.dump();
        EXPECT_TRUE(lld_rows(snapshot, health::List::Temperatures).empty()) << empty.dump();
        EXPECT_EQ(lld_rows(snapshot, health::List::Fans).size(), 8u);
    }
    const auto absent = healthy_with([](redfish::Documents& d) { d.getChassiPower->erase("Voltages"); });
    EXPECT_TRUE(lld_rows(build_snapshot(absent), health::List::Voltages).empty());
}

struct WrongKind {
    std::function<void(redfish::Documents&)> change;
    std::string message;
};

TEST(Failures, EachWrongKindNamesDocumentPathAndWhatWasFound) {
    const WrongKind cases[] = {
        {[](redfish::Documents& d) { d.getStorage.reset(); }, "Storage: the document is missing (its read failed)"},
        {[](redfish::Documents& d) { d.getChassiPower.reset(); }, "Power: the document is missing (its read failed)"},
        {[](redfish::Documents& d) { d.getChassiThermal.reset(); },
         "Thermal: the document is missing (its read failed)"},
        {[](redfish::Documents& d) { d.getChassiTotalPower.reset(); },
         "TotalPower: the document is missing (its read failed)"},
        {[](redfish::Documents& d) { d.getChassiPeakPower.reset(); },
         "PeakPower: the document is missing (its read failed)"},
        {[](redfish::Documents& d) { d.getStorage = nullptr; }, "Storage: the document is null, expected an object"},
        {[](redfish::Documents& d) { d.getChassiThermal = Json::array(); },
         "Thermal: the document is an array, expected an object"},
        {[](redfish::Documents& d) { (*d.getStorage)["Status"] = "OK"; },
         R"(Storage: Status is the text "OK", expected an object)"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Fans"][2]["Status"] = nullptr; },
         "Thermal: Fans[2].Status is null, expected an object"},
        {[](redfish::Documents& d) { (*d.getChassiPower)["Voltages"][1]["ReadingVolts"] = "12"; },
         R"(Power: Voltages[1].ReadingVolts is the text "12", expected a number)"},
        {[](redfish::Documents& d) { (*d.getChassiPower)["Voltages"][0]["ReadingVolts"] = "N/A"; },
         R"(Power: Voltages[0].ReadingVolts is the text "N/A", expected a number)"},
        {[](redfish::Documents& d) { (*d.getChassiPower)["Voltages"][3]["ReadingVolts"] = {{"value", 12}}; },
         "Power: Voltages[3].ReadingVolts is an object, expected a number"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Temperatures"][17]["ReadingCelsius"] = Json::array(); },
         "Thermal: Temperatures[17].ReadingCelsius is an array, expected a number"},
        {[](redfish::Documents& d) { (*d.getChassiTotalPower)["Thresholds"] = nullptr; },
         "TotalPower: Thresholds is null, expected an object"},
        {[](redfish::Documents& d) { (*d.getChassiPeakPower)["Thresholds"]["UpperCritical"] = 1500.0; },
         "PeakPower: Thresholds.UpperCritical is the real 1500.0, expected an object"},
        {[](redfish::Documents& d) { (*d.getChassiPower)["Voltages"] = "none"; },
         R"(Power: Voltages is the text "none", expected an array)"},
        {[](redfish::Documents& d) { (*d.getChassiPower)["Voltages"] = nullptr; },
         "Power: Voltages is null, expected an array"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Fans"] = {{"Name", "Fan 1"}}; },
         "Thermal: Fans is an object, expected an array"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Temperatures"] = 0; },
         "Thermal: Temperatures is the integer 0, expected an array"},
        {[](redfish::Documents& d) { (*d.getChassiPower)["PowerControl"] = false; },
         "Power: PowerControl is false, expected an array"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Fans"][1] = "Fan 2"; },
         R"(Thermal: Fans[1] is the text "Fan 2", expected an object)"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Temperatures"][0] = nullptr; },
         "Thermal: Temperatures[0] is null, expected an object"},
        {[](redfish::Documents& d) { (*d.getChassiThermal)["Fans"][0]["Status"] = std::string(60, 'x'); },
         "Thermal: Fans[0].Status is a text of 60 bytes, expected an object"},
    };
    for (const auto& wrong : cases) EXPECT_EQ(failure_of(healthy_with(wrong.change)), document_error(wrong.message));
}

TEST(Failures, TheFirstStepThatFailsEndsTheRun) {
    const WrongKind cases[] = {
        // The peak-power document is read last, after every other value.
        {[](redfish::Documents& d) {
             (*d.getChassiThermal)["Temperatures"][4]["Status"] = nullptr;
             d.getChassiPeakPower.reset();
         },
         "Thermal: Temperatures[4].Status is null, expected an object"},
        {[](redfish::Documents& d) {
             d.getChassiTotalPower.reset();
             d.getChassiPeakPower.reset();
         },
         "TotalPower: the document is missing (its read failed)"},
        {[](redfish::Documents& d) {
             (*d.getStorage)["Status"] = 1;
             d.getChassiPower.reset();
         },
         "Storage: Status is the integer 1, expected an object"},
        // An empty storage document finds nothing, and the power document is still read.
        {[](redfish::Documents& d) {
             d.getStorage = Json::object();
             d.getChassiPower = nullptr;
         },
         "Power: the document is null, expected an object"},
        {[](redfish::Documents& d) {
             (*d.getChassiPower)["Voltages"] = 1;
             (*d.getChassiPower)["PowerControl"][0]["Status"] = nullptr;
         },
         "Power: PowerControl[0].Status is null, expected an object"},
        {[](redfish::Documents& d) {
             (*d.getChassiThermal)["Temperatures"] = 1;
             (*d.getChassiThermal)["Fans"][7] = 1;
         },
         "Thermal: Fans[7] is the integer 1, expected an object"},
        // Elements are visited in order, each entry in row order.
        {[](redfish::Documents& d) {
             (*d.getChassiPower)["Voltages"][0]["ReadingVolts"] = "x";
             (*d.getChassiPower)["Voltages"][0]["Status"] = nullptr;
             (*d.getChassiPower)["Voltages"][1] = 1;
         },
         R"(Power: Voltages[0].ReadingVolts is the text "x", expected a number)"},
        {[](redfish::Documents& d) {
             (*d.getChassiPeakPower)["Thresholds"]["LowerCaution"] = nullptr;
             (*d.getChassiPeakPower)["Status"] = nullptr;
         },
         "PeakPower: Thresholds.LowerCaution is null, expected an object"},
    };
    for (const auto& wrong : cases) EXPECT_EQ(failure_of(healthy_with(wrong.change)), document_error(wrong.message));
}

}  // namespace

namespace {

// Documents that hold only what a BMC publishes, read by the main mode.
redfish::Documents generic_documents() {
    return {Json::parse(R"({"Name": "Storage", "Status": {"State": "Enabled"}})"),
            Json::parse(R"({"PowerControl": [{"PowerConsumedWatts": 531, "Status": {}}],
                            "Voltages": [{"Name": "P12V", "ReadingVolts": 12.345, "Status": {"Health": "Critical"}}]})"),
            Json::parse(R"({"Fans": [{"Name": "Fan 1", "Reading": 5160, "Status": {"Health": "OK", "State": "Enabled"}},
                                     {"Name": "Pwm 1", "Reading": 34, "ReadingUnits": "Percent", "Status": {}}],
                            "Temperatures": []})"),
            Json::parse(R"({"Reading": 531, "Status": {}, "Thresholds": {}})"),
            Json::parse(R"({"Reading": 620, "IntervalInMin": 20})")};
}

// The same as the generic mode reads it.
redfish::ServiceReading generic_reading() {
    using redfish::Unit;
    redfish::ServiceReading reading;
    reading.storage.name = "Storage";
    reading.storage.status.state = "Enabled";
    reading.power_control.reading = 531;
    reading.voltages = {{"P12V", Json(12.345), Unit::Volts, {"Critical", {}, {}}, {}, {}}};
    reading.fans = {{"Fan 1", Json(5160), Unit::Rpm, {"OK", {}, "Enabled"}, {}, {}},
                    {"Pwm 1", Json(34), Unit::Percent, {}, {}, {}}};
    reading.total_power.reading = 531;
    reading.peak_power.reading = 620;
    reading.peak_power.interval_in_min = 20;
    return reading;
}

TEST(RedfishRules, WhatIsNotPublishedIsNotAvailableNeverAZeroFlag) {
    const auto generic = health::snapshot_of_service(generic_reading());
    EXPECT_EQ(generic[health::Item::storageHealth], "N/A");
    EXPECT_EQ(generic[health::Item::storageHealthRollup], "N/A");
    EXPECT_EQ(generic[health::Item::storageState], 1);
    EXPECT_EQ(generic[health::Item::PowerControlHealth], "N/A");
    EXPECT_EQ(generic[health::Item::totalPowerStatus], "N/A");
    EXPECT_EQ(generic[health::Item::peakPowerState], "N/A");
    EXPECT_EQ(generic[health::Item::peakPowerIntervalInMin], 20);
    // Published but not OK stays a problem.
    EXPECT_EQ(lld_rows(generic, health::List::Voltages).at(0).at("{#VOLTAGE_HEALTH}"), 0);
    EXPECT_EQ(lld_rows(generic, health::List::Voltages).at(0).at("{#VOLTAGE_STATE}"), "N/A");
    EXPECT_EQ(lld_rows(generic, health::List::Voltages).at(0).at("{#READING_VOLTS}"), 12.35);

    // The main mode reads the same documents by its own rules.
    const auto main_mode = build_snapshot(generic_documents());
    EXPECT_EQ(main_mode[health::Item::storageHealth], 0);
    EXPECT_EQ(main_mode[health::Item::PowerControlHealth], 0);
    EXPECT_EQ(lld_rows(main_mode, health::List::Voltages).at(0).at("{#VOLTAGE_STATE}"), 0);
}

TEST(RedfishRules, AFanInPercentCarriesThePercentReadingAndNoRpm) {
    const auto generic = health::snapshot_of_service(generic_reading());
    ASSERT_EQ(lld_rows(generic, health::List::Fans).size(), 2u);
    EXPECT_EQ(support::json_text(lld_rows(generic, health::List::Fans)[0]),
              R"({"{#FAN_NAME}": "Fan 1", "{#READING_RPM}": 5160, "{#FAN_HEALTH}": 1, "{#FAN_STATE}": 1})");
    EXPECT_EQ(support::json_text(lld_rows(generic, health::List::Fans)[1]),
              R"({"{#FAN_NAME}": "Pwm 1", "{#READING_PERCENT}": 34, "{#FAN_HEALTH}": "N/A", "{#FAN_STATE}": "N/A"})");
    const auto main_mode = build_snapshot(generic_documents());
    EXPECT_EQ(lld_rows(main_mode, health::List::Fans)[1].at("{#READING_RPM}"), 34);
}

}  // namespace
