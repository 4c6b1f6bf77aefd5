#include "health/zabbix_delivery.h"

#include <gtest/gtest.h>

#include <optional>

#include "health/test_documents.h"
#include "kit/sender_frame.h"
#include "kit/test_trapper.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/run_guard.h"
#include "zabbix/batch.h"

namespace {

using namespace std::chrono_literals;

using health::HealthSnapshot;
using kit::TestTrapper;
using kit::TrapperAnswer;
using support::Json;
using health_test::fan;
using health_test::temperature;
using health_test::voltage;

using Sent = std::vector<std::pair<std::string, std::string>>;  // key, value text as received

struct Delivered {
    std::optional<int> status;               // set when the delivery returned
    std::optional<support::Failure> failure;  // set when it failed
    std::string out;
};

Delivered deliver(const HealthSnapshot& snapshot, const zabbix::ZabbixServer& server,
                  const std::string& host = "bmc-01") {
    Delivered delivered;
    testing::internal::CaptureStdout();
    auto guard = support::run_guard(10s);
    try {
        health::deliver_to_zabbix(snapshot, server, host, guard);
        delivered.status = 0;
    } catch (const support::Failure& failure) {
        delivered.failure = failure;
    }
    support::flush_console();
    delivered.out = testing::internal::GetCapturedStdout();
    return delivered;
}

Sent sent(const TestTrapper& trapper) {
    Sent sent;
    for (const auto& call : trapper.calls()) sent.emplace_back(call.key, call.value);
    return sent;
}

std::string value_sent(const TestTrapper& trapper, const std::string& key) {
    for (const auto& call : trapper.calls())
        if (call.key == key) return call.value;
    ADD_FAILURE() << key << " not sent";
    return "";
}

const Sent leading_defaults = {
    {"storageHealth", "0"},
    {"storageHealthRollup", "0"},
    {"storageState", "0"},
    {"powerControlConsumedWatts", "N/A"},
    {"powerControlHealth", "0"},
    {"powerControlState", "0"},
};

const Sent trailing_defaults = {
    {"totalPower", "N/A"},
    {"totalPowerMax", "N/A"},
    {"totalPowerMin", "N/A"},
    {"totalPowerStatus", "0"},
    {"totalPowerState", "0"},
    {"totalPowerThresholdLowerCritical", "N/A"},
    {"totalPowerThresholdUpperCritical", "N/A"},
    {"peakPower", "N/A"},
    {"peakPowerThresholdLowerCaution", "N/A"},
    {"peakPowerThresholdUpperCaution", "N/A"},
    {"peakPowerThresholdLowerCritical", "N/A"},
    {"peakPowerThresholdUpperCritical", "N/A"},
    {"peakPowerStatus", "0"},
    {"peakPowerState", "0"},
};

Sent joined(std::initializer_list<Sent> parts) {
    Sent all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

HealthSnapshot realistic_machine() {
    HealthSnapshot s;
    s[health::Item::storageName] = "NVMe storage";
    s[health::Item::storageHealth] = 1;
    s[health::Item::storageHealthRollup] = 1;
    s[health::Item::storageState] = 1;
    s[health::Item::PowerControlName] = "Chassis Power Control";
    s[health::Item::PowerControlConsumedWatts] = 254;
    s[health::Item::PowerControlHealth] = 1;
    s[health::Item::PowerControlState] = 1;
    s[health::List::Voltages] = {voltage("P12V", 12.1), voltage("P3V3", 3.3, 0, 1)};
    s[health::List::Fans] = {fan("Fan 0", 4500), fan("Fan 1", "N/A", 0, 0)};
    s[health::List::Temperatures] = {temperature("CPU0 Temp", 41.5)};
    s[health::Item::totalPower] = 254.0;
    s[health::Item::totalPowerMax] = 900;
    s[health::Item::totalPowerMin] = 0;
    s[health::Item::totalPowerStatus] = 1;
    s[health::Item::totalPowerState] = 1;
    s[health::Item::totalPowerThresholdLowerCritical] = nullptr;
    s[health::Item::totalPowerThresholdUpperCritical] = 1000;
    s[health::Item::peakPower] = 612.5;
    s[health::Item::peakPowerThresholdLowerCaution] = 10;
    s[health::Item::peakPowerThresholdUpperCaution] = 800;
    s[health::Item::peakPowerThresholdLowerCritical] = 5;
    s[health::Item::peakPowerThresholdUpperCritical] = 950;
    s[health::Item::peakPowerStatus] = 1;
    s[health::Item::peakPowerState] = 0;
    return s;
}

TEST(ZabbixDelivery, RealisticMachineInTheFixedOrder) {
    TestTrapper trapper;
    const auto delivered = deliver(realistic_machine(), trapper.server());
    EXPECT_EQ(delivered.status, 0);
    EXPECT_FALSE(delivered.failure);
    EXPECT_EQ(delivered.out, "OK\n");
    const Sent expected = {
        {"storageHealth", "1"},
        {"storageHealthRollup", "1"},
        {"storageState", "1"},
        {"powerControlConsumedWatts", "254"},
        {"powerControlHealth", "1"},
        {"powerControlState", "1"},
        {"discovery_ChassiPower",
         R"({"data": [{"{#VOLTAGE_NAME}": "P12V", "{#READING_VOLTS}": 12.1, "{#VOLTAGE_HEALTH}": 1, )"
         R"("{#VOLTAGE_STATE}": 1}, {"{#VOLTAGE_NAME}": "P3V3", "{#READING_VOLTS}": 3.3, "{#VOLTAGE_HEALTH}": 0, )"
         R"("{#VOLTAGE_STATE}": 1}]})"},
        {"readingVolts[P12V]", "12.1"},
        {"voltageHealth[P12V]", "1"},
        {"voltageState[P12V]", "1"},
        {"readingVolts[P3V3]", "3.3"},
        {"voltageHealth[P3V3]", "0"},
        {"voltageState[P3V3]", "1"},
        {"discovery_ChassiThermalFan",
         R"({"data": [{"{#FAN_NAME}": "Fan 0", "{#READING_RPM}": 4500, "{#FAN_HEALTH}": 1, "{#FAN_STATE}": 1}, )"
         R"({"{#FAN_NAME}": "Fan 1", "{#READING_RPM}": "N/A", "{#FAN_HEALTH}": 0, "{#FAN_STATE}": 0}]})"},
        {"readingRPM[Fan 0]", "4500"},
        {"fanHealth[Fan 0]", "1"},
        {"fanState[Fan 0]", "1"},
        {"readingRPM[Fan 1]", "N/A"},
        {"fanHealth[Fan 1]", "0"},
        {"fanState[Fan 1]", "0"},
        {"discovery_ChassiThermalTemp",
         R"({"data": [{"{#TEMP_NAME}": "CPU0 Temp", "{#READING_CELSIUS}": 41.5, "{#TEMP_HEALTH}": 1, )"
         R"("{#TEMP_STATE}": 1}]})"},
        {"readingCelsius[CPU0 Temp]", "41.5"},
        {"tempHealth[CPU0 Temp]", "1"},
        {"tempState[CPU0 Temp]", "1"},
        {"totalPower", "254.0"},
        {"totalPowerMax", "900"},
        {"totalPowerMin", "0"},
        {"totalPowerStatus", "1"},
        {"totalPowerState", "1"},
        {"totalPowerThresholdLowerCritical", "None"},
        {"totalPowerThresholdUpperCritical", "1000"},
        {"peakPower", "612.5"},
        {"peakPowerThresholdLowerCaution", "10"},
        {"peakPowerThresholdUpperCaution", "800"},
        {"peakPowerThresholdLowerCritical", "5"},
        {"peakPowerThresholdUpperCritical", "950"},
        {"peakPowerStatus", "1"},
        {"peakPowerState", "0"},
    };
    EXPECT_EQ(sent(trapper), expected);
    for (const auto& call : trapper.calls()) EXPECT_EQ(call.host, "bmc-01");
}

TEST(ZabbixDelivery, EmptyListsGiveTwentyThreeCalls) {
    TestTrapper trapper;
    const auto delivered = deliver(HealthSnapshot{}, trapper.server());
    EXPECT_EQ(delivered.status, 0);
    EXPECT_EQ(delivered.out, "OK\n");
    const Sent empty_lists = {{"discovery_ChassiPower", R"({"data": []})"},
                              {"discovery_ChassiThermalFan", R"({"data": []})"},
                              {"discovery_ChassiThermalTemp", R"({"data": []})"}};
    EXPECT_EQ(sent(trapper), joined({leading_defaults, empty_lists, trailing_defaults}));
}

TEST(ZabbixDelivery, OneVoltageAndOneFanGiveTwentyNineCalls) {
    HealthSnapshot snapshot;
    snapshot[health::List::Voltages] = {voltage("P5V", 5.02)};
    snapshot[health::List::Fans] = {fan("Fan 3", 7200)};
    TestTrapper trapper;
    EXPECT_EQ(deliver(snapshot, trapper.server()).status, 0);
    const auto keys = trapper.keys();
    ASSERT_EQ(keys.size(), 29u);
    const std::vector<std::string> middle(keys.begin() + 6, keys.begin() + 15);
    EXPECT_EQ(middle, (std::vector<std::string>{"discovery_ChassiPower", "readingVolts[P5V]", "voltageHealth[P5V]",
                                                "voltageState[P5V]", "discovery_ChassiThermalFan",
                                                "readingRPM[Fan 3]", "fanHealth[Fan 3]", "fanState[Fan 3]",
                                                "discovery_ChassiThermalTemp"}));
    EXPECT_EQ(value_sent(trapper, "discovery_ChassiThermalTemp"), R"({"data": []})");
    EXPECT_EQ(keys.front(), "storageHealth");
    EXPECT_EQ(keys.back(), "peakPowerState");
}

TEST(ZabbixDelivery, DocumentsFollowTheDiscoveryRules) {
    HealthSnapshot snapshot;
    snapshot[health::List::Voltages] = {voltage("P12V", 12.0), voltage("P12V_AUX", 12)};
    snapshot[health::List::Fans] = {fan("N/A", "N/A", 0, 0)};
    snapshot[health::List::Temperatures] = {temperature("Inlet °", 22.5)};
    TestTrapper trapper;
    EXPECT_EQ(deliver(snapshot, trapper.server()).status, 0);
    EXPECT_EQ(value_sent(trapper, "discovery_ChassiThermalFan"),
              R"({"data": [{"{#FAN_NAME}": "N/A", "{#READING_RPM}": "N/A", "{#FAN_HEALTH}": 0, "{#FAN_STATE}": 0}]})");
    EXPECT_EQ(value_sent(trapper, "discovery_ChassiThermalTemp"),
              R"({"data": [{"{#TEMP_NAME}": "Inlet \u00b0", "{#READING_CELSIUS}": 22.5, "{#TEMP_HEALTH}": 1, )"
              R"("{#TEMP_STATE}": 1}]})");
    EXPECT_EQ(value_sent(trapper, "readingCelsius[Inlet °]"), "22.5");
    const std::string volts = value_sent(trapper, "discovery_ChassiPower");
    EXPECT_NE(volts.find(R"("P12V", "{#READING_VOLTS}": 12.0,)"), std::string::npos) << volts;
    EXPECT_NE(volts.find(R"("P12V_AUX", "{#READING_VOLTS}": 12,)"), std::string::npos) << volts;
    EXPECT_EQ(value_sent(trapper, "readingVolts[P12V]"), "12.0");
    EXPECT_EQ(value_sent(trapper, "readingVolts[P12V_AUX]"), "12");
    EXPECT_EQ(value_sent(trapper, "fanHealth[N/A]"), "0");
}

TEST(ZabbixDelivery, NullFanNameFailsAfterItsDocumentAndTheRowsBefore) {
    HealthSnapshot snapshot;
    snapshot[health::List::Fans] = {fan("Fan 0", 4000), fan(nullptr, 3900), fan("Fan 2", 3800)};
    TestTrapper trapper;
    const auto delivered = deliver(snapshot, trapper.server());
    EXPECT_FALSE(delivered.status);
    ASSERT_TRUE(delivered.failure);
    EXPECT_EQ(delivered.failure->kind, support::FailureKind::InvalidRowName);
    EXPECT_NE(std::string(delivered.failure->what()).find("readingRPM[...] cannot be built: the row name null"),
              std::string::npos)
        << delivered.failure->what();
    EXPECT_EQ(delivered.out, "");
    const auto keys = trapper.keys();
    ASSERT_EQ(keys.size(), 11u);
    EXPECT_EQ(keys[7], "discovery_ChassiThermalFan");
    EXPECT_EQ(keys.back(), "fanState[Fan 0]");
    EXPECT_NE(value_sent(trapper, "discovery_ChassiThermalFan").find(R"("{#FAN_NAME}": null)"), std::string::npos);
}

TEST(ZabbixDelivery, UpperCaseDebugIsAnOrdinaryHost) {
    TestTrapper trapper;
    EXPECT_EQ(deliver(HealthSnapshot{}, trapper.server(), "DEBUG").status, 0);
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), 23u);
    for (const auto& call : calls) EXPECT_EQ(call.host, "DEBUG");
}

// The fixed items and documents travel in one request, the per-row values in
// the next: Zabbix counts refusals per request, and only the first kind's count.
TEST(ZabbixDelivery, FixedItemsAndDocumentsInOneRequestPerRowValuesInTheNext) {
    TestTrapper trapper;
    EXPECT_EQ(deliver(realistic_machine(), trapper.server()).status, 0);
    const auto requests = trapper.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(trapper.connections(), 2);
    const std::vector<std::string> counted(requests[0].keys.begin() + 6, requests[0].keys.begin() + 10);
    EXPECT_EQ(counted, (std::vector<std::string>{"discovery_ChassiPower", "discovery_ChassiThermalFan",
                                                 "discovery_ChassiThermalTemp", "totalPower"}));
    EXPECT_EQ(requests[0].keys.size(), 23u);
    EXPECT_EQ(requests[1].keys.size(), 15u);
    EXPECT_EQ(requests[1].keys.front(), "readingVolts[P12V]");
    EXPECT_EQ(requests[1].keys.back(), "tempState[CPU0 Temp]");
}

TEST(ZabbixDelivery, AHugeDeliverySplitsIntoRequestsOfAtMost250Values) {
    HealthSnapshot snapshot;
    for (int i = 0; i < 1200; ++i) snapshot[health::List::Voltages].push_back(voltage("PSU rail " + std::to_string(i), 12));
    for (int i = 0; i < 1000; ++i) snapshot[health::List::Fans].push_back(fan("Fan " + std::to_string(i), 4000));
    for (int i = 0; i < 1100; ++i)
        snapshot[health::List::Temperatures].push_back(temperature("DIMM " + std::to_string(i) + " °C", 40.5));
    TestTrapper trapper;
    const auto delivered = deliver(snapshot, trapper.server());
    EXPECT_EQ(delivered.status, 0);
    EXPECT_EQ(delivered.out, "OK\n");
    const auto requests = trapper.requests();
    ASSERT_EQ(requests.size(), 41u);  // 23 values, then 9900 per-row values
    EXPECT_EQ(requests[0].keys.size(), 23u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].keys.size(), i + 1 < requests.size() ? 250u : 150u) << i;
        EXPECT_LE(requests[i].frame.size(), kit::kFrameHeaderSize + zabbix::kMaxRequestBytes + 100) << i;
    }
    const auto keys = trapper.keys();
    ASSERT_EQ(keys.size(), 23u + 3u * 3300u);
    EXPECT_EQ(keys[6], "discovery_ChassiPower");
    EXPECT_EQ(keys[7], "readingVolts[PSU rail 0]");
    EXPECT_EQ(keys[6 + 1 + 3600], "discovery_ChassiThermalFan");
    EXPECT_EQ(keys[keys.size() - 15], "tempState[DIMM 1099 °C]");
    EXPECT_EQ(value_sent(trapper, "readingCelsius[DIMM 1099 °C]"), "40.5");
}

TEST(ZabbixDelivery, ABrokenReplyStopsTheDeliveryAtThatRequest) {
    for (const auto answer : {TrapperAnswer::Close, TrapperAnswer::Garbage, TrapperAnswer::ResponseFailed}) {
        for (const int request : {1, 2}) {
            HealthSnapshot snapshot;
            snapshot[health::List::Voltages] = {voltage("P5V", 5.0)};
            snapshot[health::List::Fans] = {fan("Fan 0", 4000)};
            TestTrapper trapper;
            trapper.answer_at(request, answer);
            const auto delivered = deliver(snapshot, trapper.server());
            ASSERT_TRUE(delivered.failure) << request;
            EXPECT_EQ(delivered.failure->kind, support::FailureKind::ZabbixError);
            const std::string where = request == 1 ? "23 values from key \"storageHealth\" to \"peakPowerState\": "
                                                   : "6 values from key \"readingVolts[P5V]\" to \"fanState[Fan 0]\": ";
            EXPECT_NE(std::string(delivered.failure->what()).find(where), std::string::npos) << delivered.failure->what();
            EXPECT_FALSE(delivered.status);
            EXPECT_EQ(delivered.out, "");
            EXPECT_EQ(trapper.requests().size(), static_cast<std::size_t>(request));
            EXPECT_EQ(trapper.calls().size(), request == 1 ? 23u : 29u);
        }
    }
}

TEST(ZabbixDelivery, NoServerListeningFailsNamingTheServer) {
    TestTrapper closed([] {
        kit::TrapperOptions options;
        options.listening = false;
        return options;
    }());
    const auto delivered = deliver(HealthSnapshot{}, closed.server());
    ASSERT_TRUE(delivered.failure);
    EXPECT_NE(std::string(delivered.failure->what())
                  .find("Zabbix server 127.0.0.1:" + std::to_string(closed.port()) +
                        ", 23 values from key \"storageHealth\" to \"peakPowerState\": cannot connect"),
              std::string::npos)
        << delivered.failure->what();
    EXPECT_EQ(delivered.out, "");
}

TEST(ZabbixDelivery, RefusedPerRowItemsDoNotChangeTheOutcome) {
    HealthSnapshot snapshot;
    snapshot[health::List::Voltages] = {voltage("P5V", 5.0)};
    snapshot[health::List::Temperatures] = {temperature("Inlet", 20)};
    TestTrapper trapper;
    trapper.refuse_keys([](const std::string& key) { return key.find('[') != std::string::npos; });
    const auto delivered = deliver(snapshot, trapper.server());
    EXPECT_EQ(delivered.status, 0);
    EXPECT_FALSE(delivered.failure);
    EXPECT_EQ(delivered.out, "OK\n");
    EXPECT_EQ(trapper.calls().size(), 29u);
}

TEST(ZabbixDelivery, RefusedFixedItemsOrDocumentsFailAfterEverythingWasSent) {
    HealthSnapshot snapshot;
    snapshot[health::List::Fans] = {fan("Fan 0", 4000)};
    TestTrapper trapper;
    trapper.refuse_keys([](const std::string& key) { return key == "discovery_ChassiThermalFan" || key == "peakPower"; });
    const auto delivered = deliver(snapshot, trapper.server());
    EXPECT_FALSE(delivered.status);
    EXPECT_EQ(delivered.out, "");
    EXPECT_EQ(trapper.calls().size(), 26u);
    ASSERT_TRUE(delivered.failure);
    EXPECT_EQ(delivered.failure->kind, support::FailureKind::ZabbixRefused);
    // Zabbix counts 2 refusals in the request of 23 without naming them: every candidate is named.
    const std::string message = delivered.failure->what();
    EXPECT_NE(message.find("refused 2 value(s) for host \"bmc-01\" among these 23, without saying which: "
                           "storageHealth, storageHealthRollup, storageState, "),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(", discovery_ChassiThermalFan, "), std::string::npos) << message;
    EXPECT_NE(message.find(", peakPowerState (Zabbix: \"processed: 21; failed: 2; total: 23"), std::string::npos)
        << message;
}

TEST(ZabbixDelivery, AnUnknownHostNamesTheFirstRefusalsAndHowManyInAll) {
    TestTrapper trapper;
    trapper.refuse_keys([](const std::string&) { return true; });
    const auto delivered = deliver(HealthSnapshot{}, trapper.server(), "no-such-host");
    ASSERT_TRUE(delivered.failure);
    const std::string message = delivered.failure->what();
    EXPECT_NE(message.find("refused 23 value(s) for host \"no-such-host\": storageHealth, storageHealthRollup, "
                           "storageState, powerControlConsumedWatts, powerControlHealth and 18 more"),
              std::string::npos)
        << message;
    EXPECT_EQ(trapper.calls().size(), 23u);
}

TEST(ZabbixDelivery, NamesAreQuotedInKeysAsZabbixQuotesThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"P12V", "readingVolts[P12V]"},
        {"Fan 2", "readingVolts[Fan 2]"},
        {"Fan \"3\"", "readingVolts[Fan \"3\"]"},
        {"CPU1, VR", "readingVolts[\"CPU1, VR\"]"},
        {"x]y", "readingVolts[\"x]y\"]"},
        {" lead", "readingVolts[\" lead\"]"},
        {"[b", "readingVolts[\"[b\"]"},
        {"\"q\"", "readingVolts[\"\\\"q\\\"\"]"},
        {"back\\", "readingVolts[back\\]"},
        {"ends,\\", "readingVolts[ends,\\]"},
        {"trail ", "readingVolts[trail ]"},
        {"", "readingVolts[]"},
        {"°C", "readingVolts[°C]"},
    };
    for (const auto& [name, key] : cases) EXPECT_EQ(health::row_key("readingVolts[", name), key) << name;
    for (const Json& not_text : {Json(12), Json(1.5), Json(true), Json(nullptr), Json::array(), Json::object()}) {
        EXPECT_THROW(health::row_key("fanState[", not_text), support::Failure) << not_text.dump();
    }
}

TEST(ZabbixDelivery, CommaNamesAreQuotedAndDuplicatesAreBothSent) {
    HealthSnapshot snapshot;
    snapshot[health::List::Voltages] = {voltage("CPU1, VR", 1.8), voltage("P3V3", 3.3), voltage("P3V3", 3.31)};
    TestTrapper trapper;
    EXPECT_EQ(deliver(snapshot, trapper.server()).status, 0);
    const auto all = sent(trapper);
    const Sent voltages(all.begin() + 7, all.begin() + 16);
    EXPECT_EQ(voltages, (Sent{{"readingVolts[\"CPU1, VR\"]", "1.8"},
                              {"voltageHealth[\"CPU1, VR\"]", "1"},
                              {"voltageState[\"CPU1, VR\"]", "1"},
                              {"readingVolts[P3V3]", "3.3"},
                              {"voltageHealth[P3V3]", "1"},
                              {"voltageState[P3V3]", "1"},
                              {"readingVolts[P3V3]", "3.31"},
                              {"voltageHealth[P3V3]", "1"},
                              {"voltageState[P3V3]", "1"}}));
    EXPECT_NE(value_sent(trapper, "discovery_ChassiPower").find(R"("{#VOLTAGE_NAME}": "CPU1, VR")"),
              std::string::npos);
}

}  // namespace

namespace {

TEST(ZabbixDelivery, AFanInPercentGoesUnderItsOwnKeyAndNotPublishedAsNotAvailable) {
    HealthSnapshot snapshot;
    const health::SensorRow pwm = health_test::fan_in_percent("Pwm 1", 34, "N/A", 1);
    snapshot[health::List::Fans] = {fan("Fan 1", 5160), pwm};
    snapshot[health::Item::storageHealth] = "N/A";
    TestTrapper trapper;
    EXPECT_EQ(deliver(snapshot, trapper.server()).status, 0);
    const auto keys = trapper.keys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "readingPercent[Pwm 1]"), 1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "readingRPM[Pwm 1]"), 0);
    EXPECT_EQ(value_sent(trapper, "readingPercent[Pwm 1]"), "34");
    EXPECT_EQ(value_sent(trapper, "readingRPM[Fan 1]"), "5160");
    EXPECT_EQ(value_sent(trapper, "fanHealth[Pwm 1]"), "N/A");
    EXPECT_EQ(value_sent(trapper, "storageHealth"), "N/A");
    EXPECT_EQ(keys.size(), 23u + 6u);
}

}  // namespace
