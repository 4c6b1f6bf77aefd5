// The mode "discoveryRedfish" run as a user runs it, through bmc-sim and a
// real trapper: against old OpenBMC firmware it makes the main mode's seven
// requests and delivers its values (fans in percent apart); against today's
// bmcweb it delivers the same machine; against every captured BMC it ends
// with 0 and delivers what the files hold, with no 0 flag that the BMC did
// not publish.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "health/lists.h"
#include "kit/capture_facts.h"
#include "kit/run_binary.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"

namespace {

using support::Json;
using Delivered = std::vector<std::tuple<std::string, std::string, std::string>>;  // host, key, value

struct Outcome {
    kit::RunResult run;
    Delivered delivered;
    std::vector<bmc_sim::RecordedRequest> requests;
};

Outcome run_mode(const std::string& mode, bmc_sim::TestBmc& bmc, const std::string& host = "bmc01.example.com") {
    kit::TestTrapper trapper;
    kit::RunOptions options;
    options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(trapper.port());
    Outcome outcome;
    outcome.run = kit::run_program({mode, "bmc01", bmc.url_base(), "monitor", "0penBmc!", host}, options);
    for (const auto& call : trapper.calls()) outcome.delivered.emplace_back(call.host, call.key, call.value);
    outcome.requests = bmc.requests();
    return outcome;
}

Outcome run_against(const std::string& mode, bmc_sim::Options options,
                    const std::function<void(bmc_sim::TestBmc&)>& prepare = {}) {
    auto bmc = kit::start_bmc(std::move(options));
    if (prepare) prepare(*bmc);
    return run_mode(mode, *bmc);
}

bmc_sim::Options serving(const std::filesystem::path& where) {
    bmc_sim::Options options;
    options.scenario = bmc_sim::load_scenario(where);
    return options;
}

bmc_sim::Options current_tree(const std::string& index = "index.json") {
    return serving(kit::testdata_dir("openbmc/current_tree") / index);
}

std::string value_of(const Delivered& delivered, const std::string& key) {
    for (const auto& [host, k, value] : delivered)
        if (k == key) return value;
    return "<not sent>";
}

std::size_t sent_count(const Delivered& delivered, const std::string& key_prefix) {
    std::size_t count = 0;
    for (const auto& [host, key, value] : delivered) count += key.rfind(key_prefix, 0) == 0;
    return count;
}

Delivered without(Delivered delivered, const std::set<std::string>& keys) {
    std::erase_if(delivered, [&](const auto& call) { return keys.count(std::get<1>(call)) > 0; });
    return delivered;
}

// What the generic mode delivers beyond what both modes deliver: the system's
// items, the lists of the whole server and their rows.
Delivered without_whole_server(Delivered delivered) {
    std::set<std::string> keys, prefixes;
    for (const auto& group : health::kGroups) {
        if (!group.whole_server) continue;
        for (const auto* item : health::fixed_items(group.group)) keys.insert(std::string(item->key));
        if (const auto* list = health::discovery_list(group.group)) {
            keys.insert(std::string(list->key));
            for (const auto& entry : list->entries) prefixes.insert(std::string(entry.key_prefix));
        }
    }
    prefixes.erase("");
    std::erase_if(delivered, [&](const auto& call) {
        const auto& key = std::get<1>(call);
        return keys.count(key) > 0 || std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& prefix) {
                   return key.rfind(prefix, 0) == 0;
               });
    });
    return delivered;
}

// Each GET asked once, every request after the login with the token.
void expect_no_path_asked_twice(const std::vector<bmc_sim::RecordedRequest>& requests) {
    std::set<std::string> asked;
    for (const auto& request : requests) {
        if (request.method != "GET") continue;
        EXPECT_TRUE(asked.insert(request.target).second) << request.target << " asked twice";
        EXPECT_TRUE(request.header("X-Auth-Token").has_value()) << request.target;
    }
}

class BothModes : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        main_mode = new Outcome(run_against("discoveryOpenBMC", kit::bmc_options("a_healthy")));
        generic = new Outcome(run_against("discoveryRedfish", kit::bmc_options("a_healthy")));
    }
    static void TearDownTestSuite() {
        delete main_mode;
        delete generic;
    }
    static Outcome* main_mode;
    static Outcome* generic;
};
Outcome* BothModes::main_mode = nullptr;
Outcome* BothModes::generic = nullptr;

const std::set<std::string> kPwmFanKeys = {
    "discovery_ChassiThermalFan", "readingRPM[Pwm 1]",     "readingRPM[Pwm 2]",
    "readingRPM[Pwm 3]",          "readingRPM[Pwm 4]",     "readingPercent[Pwm 1]",
    "readingPercent[Pwm 2]",      "readingPercent[Pwm 3]", "readingPercent[Pwm 4]"};

TEST_F(BothModes, OldFirmwareGetsTheMainModesSevenRequestsAndValuesWithFansInPercentApart) {
    ASSERT_EQ(main_mode->run.status, 0) << main_mode->run.err;
    ASSERT_EQ(generic->run.status, 0) << generic->run.err;
    EXPECT_EQ(generic->run.out, main_mode->run.out);
    ASSERT_EQ(generic->requests.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(generic->requests[i].method, main_mode->requests[i].method);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(generic->requests[i].target, main_mode->requests[i].target);

    EXPECT_EQ(without(generic->delivered, kPwmFanKeys), without(main_mode->delivered, kPwmFanKeys));
    for (int i = 1; i <= 4; ++i) {
        const std::string pwm = "Pwm " + std::to_string(i);
        EXPECT_EQ(value_of(generic->delivered, "readingPercent[" + pwm + "]"),
                  value_of(main_mode->delivered, "readingRPM[" + pwm + "]"));
        EXPECT_EQ(value_of(generic->delivered, "readingRPM[" + pwm + "]"), "<not sent>");
    }
    const auto fans = Json::parse(value_of(generic->delivered, "discovery_ChassiThermalFan"))["data"];
    ASSERT_EQ(fans.size(), 8u);
    EXPECT_TRUE(fans[0].contains("{#READING_RPM}"));
    EXPECT_TRUE(fans[4].contains("{#READING_PERCENT}"));
    EXPECT_FALSE(fans[4].contains("{#READING_RPM}"));
}

// Today's bmcweb serves the same machine under other paths, with the fan
// readings on sensors and no storage health at all.
TEST_F(BothModes, CurrentBmcwebDeliversTheSameMachineAndItsStorageHealthAsNotPublished) {
    for (const std::string index : {"index.json", "index_query_enabled.json"}) {
        SCOPED_TRACE(index);
        const auto current = run_against("discoveryRedfish", current_tree(index));
        EXPECT_EQ(current.run.status, 0) << current.run.err;
        EXPECT_EQ(current.run.out, generic->run.out);
        const std::set<std::string> storage_health = {"storageHealth", "storageHealthRollup"};
        EXPECT_EQ(without(without_whole_server(current.delivered), storage_health),
                  without(generic->delivered, storage_health));
        EXPECT_EQ(value_of(current.delivered, "storageHealth"), "N/A");
        EXPECT_EQ(value_of(current.delivered, "storageHealthRollup"), "N/A");
        expect_no_path_asked_twice(current.requests);
        bool expanded = false;
        for (const auto& request : current.requests) expanded |= request.target.find("$expand") != std::string::npos;
        EXPECT_EQ(expanded, index != "index.json");
        std::cout << "discoveryRedfish against current bmcweb (" << index << "): " << current.requests.size()
                  << " requests\n";
    }
}

// A row's flag is 0 only where the capture publishes, for an element of that
// name, a Status word other than the expected one.
std::multimap<std::string, Json> published_statuses(const bmc_sim::Scenario& scenario) {
    std::multimap<std::string, Json> statuses;
    std::function<void(const Json&)> visit = [&](const Json& value) {
        if (value.is_object() && value.contains("Name") && value["Name"].is_string() && value.contains("Status"))
            statuses.emplace(value["Name"].get<std::string>(), value["Status"]);
        if (value.is_structured())
            for (const auto& inner : value) visit(inner);
    };
    for (const auto& [path, answer] : scenario.tree)
        if (answer.status == 200) visit(Json::parse(answer.body));
    return statuses;
}

// The words published under word in the statuses of the elements named name.
std::vector<std::string> published_words(const std::multimap<std::string, Json>& statuses, std::string name,
                                         const std::string& word) {
    if (!statuses.count(name) && name.back() == ')') name = name.substr(0, name.rfind(" ("));  // made unique
    std::vector<std::string> words;
    const auto [first, last] = statuses.equal_range(name);
    for (auto it = first; it != last; ++it)
        if (it->second.contains(word) && it->second[word].is_string()) words.push_back(it->second[word]);
    return words;
}

bool published_other_than(const std::multimap<std::string, Json>& statuses, const std::string& name,
                          const std::string& word, const std::vector<std::string>& not_problems) {
    for (const auto& published : published_words(statuses, name, word))
        if (std::find(not_problems.begin(), not_problems.end(), published) == not_problems.end()) return true;
    return false;
}

// Absent and Disabled: the element of an empty slot or socket, not a problem.
bool only_out_of_service(const std::multimap<std::string, Json>& statuses, const std::string& name) {
    const auto states = published_words(statuses, name, "State");
    return !states.empty() && std::all_of(states.begin(), states.end(), [](const std::string& state) {
        return state == "Absent" || state == "Disabled";
    });
}

// Checks every 0 flag against what the BMC publishes; the rows of elements
// that are Absent or Disabled, counted, must carry no state flag.
std::size_t expect_zero_flags_published(const Delivered& delivered, const bmc_sim::Scenario& scenario) {
    const auto statuses = published_statuses(scenario);
    std::size_t out_of_service = 0;
    struct List {
        const char* key;
        const char* name;
        const char* health;
        const char* state;
    };
    for (const List list : {List{"discovery_ChassiPower", "{#VOLTAGE_NAME}", "{#VOLTAGE_HEALTH}", "{#VOLTAGE_STATE}"},
                            List{"discovery_ChassiThermalFan", "{#FAN_NAME}", "{#FAN_HEALTH}", "{#FAN_STATE}"},
                            List{"discovery_ChassiThermalTemp", "{#TEMP_NAME}", "{#TEMP_HEALTH}", "{#TEMP_STATE}"}}) {
        const Json document = Json::parse(value_of(delivered, list.key));
        for (const auto& row : document["data"]) {
            if (row[list.health] == 0) {
                EXPECT_TRUE(published_other_than(statuses, row[list.name], "Health", {"OK"})) << row;
            }
            if (row[list.state] == 0) {
                EXPECT_TRUE(published_other_than(statuses, row[list.name], "State", {"Enabled", "Absent", "Disabled"}))
                    << row;
            }
            if (only_out_of_service(statuses, row[list.name])) {
                EXPECT_EQ(row[list.state], "N/A") << row;
                ++out_of_service;
            }
        }
    }
    return out_of_service;
}

std::string flag_text(const std::string& published, const std::string& good) {
    if (published.empty()) return "N/A";
    return published == good ? "1" : "0";
}

std::size_t rows_in(const Delivered& delivered, const std::string& key) {
    return Json::parse(value_of(delivered, key))["data"].size();
}

class EachCaptureRun : public testing::TestWithParam<kit::CaptureFacts> {};

TEST_P(EachCaptureRun, EndsWithZeroAndDeliversWhatTheFilesHoldWithoutAFalseProblem) {
    const kit::CaptureFacts& facts = GetParam();
    const auto scenario = kit::capture_scenario(facts.name);

    auto bmc = kit::start_bmc(serving(kit::testdata_dir("redfish-mockups/" + facts.name)));
    const auto report = run_mode("discoveryRedfish", *bmc, "debug");
    EXPECT_EQ(report.run.status, 0) << report.run.err;
    EXPECT_EQ(report.run.err, "");
    EXPECT_NE(report.run.out.find("Potência Total (Watts): \x1b[0;0m" +
                                  support::Json(kit::held_total_power(scenario, facts)).dump()),
              std::string::npos);

    auto again = kit::start_bmc(serving(kit::testdata_dir("redfish-mockups/" + facts.name)));
    const auto delivery = run_mode("discoveryRedfish", *again);
    ASSERT_EQ(delivery.run.status, 0) << delivery.run.err;
    EXPECT_EQ(delivery.run.out, "Sessão encerrada com sucesso.\nOK\n");
    const auto& sent = delivery.delivered;
    EXPECT_EQ(value_of(sent, "totalPower"), kit::held_total_power(scenario, facts).dump());
    const Json peak = kit::held_peak_power(scenario, facts);
    EXPECT_EQ(value_of(sent, "peakPower"), peak.is_null() ? "N/A" : peak.dump());
    EXPECT_EQ(value_of(sent, "storageHealth"), flag_text(facts.health, "OK"));
    EXPECT_EQ(value_of(sent, "storageHealthRollup"), flag_text(facts.rollup, "OK"));
    EXPECT_EQ(value_of(sent, "storageState"), flag_text(facts.state, "Enabled"));
    for (const auto* key : {"powerControlHealth", "powerControlState", "totalPowerStatus", "totalPowerState",
                            "peakPowerStatus", "peakPowerState"})
        EXPECT_NE(value_of(sent, key), "0") << key;

    EXPECT_EQ(rows_in(sent, "discovery_ChassiPower"), facts.voltages);
    EXPECT_EQ(rows_in(sent, "discovery_ChassiThermalFan"), facts.fans);
    EXPECT_EQ(rows_in(sent, "discovery_ChassiThermalTemp"), facts.temperatures);
    EXPECT_EQ(sent_count(sent, "readingPercent["), facts.fans_in_percent);
    EXPECT_EQ(sent_count(sent, "readingRPM["), facts.fans - facts.fans_in_percent);
    EXPECT_EQ(expect_zero_flags_published(sent, scenario), facts.out_of_service);
    expect_no_path_asked_twice(delivery.requests);
    std::cout << facts.name << ": " << delivery.requests.size() << " requests\n";
}

INSTANTIATE_TEST_SUITE_P(Captures, EachCaptureRun, testing::ValuesIn(kit::kCaptureFacts),
                         [](const auto& info) { return kit::test_name_of(info.param); });

// Nothing published: a service with nothing but its root still gives a
// whole report and a whole delivery, all of it N/A, and ends with 0.
TEST(DiscoveryRedfish, AServiceThatPublishesNothingGivesNotAvailableEverywhereAndEndsWithZero) {
    auto options = serving(kit::testdata_dir("redfish-mockups/dmtf-public-rackmount1"));
    options.scenario.tree = {{"/redfish/v1", options.scenario.tree.at("/redfish/v1")}};
    auto bmc = kit::start_bmc(options);
    const auto report = run_mode("discoveryRedfish", *bmc, "debug");
    EXPECT_EQ(report.run.status, 0) << report.run.err;
    EXPECT_NE(report.run.out.find("Estado do Storage: \x1b[0;0mN/A\n"), std::string::npos) << report.run.out;
    auto again = kit::start_bmc(options);
    const auto delivery = run_mode("discoveryRedfish", *again);
    EXPECT_EQ(delivery.run.status, 0) << delivery.run.err;
    // The 23 values of both modes, the system's 11 and the whole server's four lists.
    ASSERT_EQ(delivery.delivered.size(), 38u);
    for (const auto& [host, key, value] : delivery.delivered) {
        if (key.rfind("discovery_", 0) == 0) {
            EXPECT_EQ(value, R"({"data": []})") << key;
        } else {
            EXPECT_EQ(value, "N/A") << key;
        }
    }
}

// A service whose sessions live elsewhere: the login goes where its root
// links them, once the usual path is refused.
TEST(DiscoveryRedfish, LogsInAtTheSessionCollectionTheServiceRootLinks) {
    auto options = serving(kit::testdata_dir("redfish-mockups/dell-idrac9-poweredge-r750"));
    const std::string elsewhere = "/redfish/v1/SessionService/OtherSessions";
    auto root = Json::parse(options.scenario.tree.at("/redfish/v1").body);
    root["Links"]["Sessions"]["@odata.id"] = elsewhere;
    options.scenario.tree["/redfish/v1"].body = root.dump();
    options.scenario.sessions_path = elsewhere;
    auto bmc = kit::start_bmc(options);
    const auto outcome = run_mode("discoveryRedfish", *bmc);
    EXPECT_EQ(outcome.run.status, 0) << outcome.run.err;
    ASSERT_GE(outcome.requests.size(), 4u);
    EXPECT_EQ(outcome.requests[0].method + " " + outcome.requests[0].target,
              "POST /redfish/v1/SessionService/Sessions");
    EXPECT_EQ(outcome.requests[1].method + " " + outcome.requests[1].target, "GET /redfish/v1");
    EXPECT_FALSE(outcome.requests[1].header("X-Auth-Token"));
    EXPECT_EQ(outcome.requests[2].method + " " + outcome.requests[2].target, "POST " + elsewhere);
    EXPECT_EQ(outcome.requests.back().method, "DELETE");
    EXPECT_EQ(outcome.requests.back().path.rfind(elsewhere + "/", 0), 0u);

    // Refused there too: one line, and the run ends as a refused login does.
    auto refusing = serving(kit::testdata_dir("redfish-mockups/dell-idrac9-poweredge-r750"));
    refusing.password = "another";
    const auto refused = run_against("discoveryRedfish", std::move(refusing));
    EXPECT_EQ(refused.run.status, 1);
    EXPECT_EQ(refused.run.out,
              "Falha ao obter o token de autenticação.\nErro ao buscar o token de autenticação. Contactar Quorvane!\n");
    EXPECT_EQ(refused.requests.size(), 2u);  // the login and the root, which links the same collection
}

// Only what breaks the exchange itself ends the run: a body that is not
// JSON ends it, after the logout, naming the URL.
TEST(DiscoveryRedfish, InvalidJsonEndsTheRunAfterTheLogoutNamingItsUrl) {
    const std::string sensor = "/redfish/v1/Chassis/Chassis_0/Sensors/Chassis_0_FAN_1_PWM";
    const auto outcome =
        run_against("discoveryRedfish", serving(kit::testdata_dir("redfish-mockups/nvidia-gb200-openbmc")),
                    [&](bmc_sim::TestBmc& bmc) {
                        bmc.script("GET", "/redfish/v1/Chassis/Chassis_0/Sensors",
                                   bmc_sim::reply(200, {{"Content-Type", "application/json"}},
                                                  R"({"Members": [{"@odata.id": ")" + sensor + R"("}]})"));
                        bmc.script("GET", sensor, bmc_sim::reply(200, {}, "{\"Reading\": 29.8"));
                    });
    EXPECT_EQ(outcome.run.status, 1);
    EXPECT_NE(outcome.run.err.find("InvalidJson"), std::string::npos) << outcome.run.err;
    EXPECT_NE(outcome.run.err.find(sensor), std::string::npos) << outcome.run.err;
    EXPECT_TRUE(outcome.delivered.empty());
    EXPECT_EQ(outcome.requests.back().method, "DELETE");
}

TEST(DiscoveryRedfish, LinksToOtherHostsAreCutToTheirPath) {
    // A chassis collection naming its member by a full URL elsewhere: the
    // token goes only to the BMC, under that path.
    auto options = current_tree();
    auto chassis = Json::parse(options.scenario.tree.at("/redfish/v1/Chassis").body);
    chassis["Members"][0]["@odata.id"] = "https://attacker.example/redfish/v1/Chassis/chassis";
    options.scenario.tree["/redfish/v1/Chassis"].body = chassis.dump();
    const auto outcome = run_against("discoveryRedfish", options);
    EXPECT_EQ(outcome.run.status, 0) << outcome.run.err;
    EXPECT_EQ(value_of(outcome.delivered, "totalPower"), "482.5");
}

TEST(DiscoveryOpenBMC, AMissingDocumentAnswered404HintsAtTheOtherMode) {
    const auto main_mode = run_against("discoveryOpenBMC", current_tree());
    EXPECT_EQ(main_mode.run.status, 1);
    EXPECT_EQ(main_mode.requests.size(), 7u);
    EXPECT_TRUE(main_mode.delivered.empty());
    EXPECT_NE(main_mode.run.err.find("Storage: the document is missing (its read failed) — try the mode "
                                     "\"discoveryRedfish\" for current OpenBMC firmware\n"),
              std::string::npos)
        << main_mode.run.err;
    EXPECT_EQ(std::count(main_mode.run.err.begin(), main_mode.run.err.end(), '\n'), 1);

    // Refused for another reason (a stale token), the report stays as it was.
    const auto refused = run_against("discoveryOpenBMC", kit::bmc_options("a_healthy"), [](bmc_sim::TestBmc& bmc) {
        bmc.script("GET", "/redfish/v1/Systems/system/Storage/1", bmc_sim::reply(401, {}, "Unauthorized"));
    });
    EXPECT_EQ(refused.run.status, 1);
    EXPECT_EQ(refused.run.err.find("discoveryRedfish"), std::string::npos) << refused.run.err;
}

}  // namespace
