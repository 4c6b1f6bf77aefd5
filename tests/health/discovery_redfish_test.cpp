// The mode "discoveryRedfish" run as a user runs it, against both simulated
// firmware generations, its deliveries compared through a real trapper with
// those of "discoveryOpenBMC" against the old firmware.
#include <gtest/gtest.h>

#include <tuple>

#include "kit/run_binary.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"

namespace {

using Delivered = std::vector<std::tuple<std::string, std::string, std::string>>;  // host, key, value

struct Outcome {
    kit::RunResult run;
    Delivered delivered;
    std::vector<bmc_sim::RecordedRequest> requests;
};

Outcome run_mode(const std::string& mode, bmc_sim::TestBmc& bmc) {
    kit::TestTrapper trapper;
    kit::RunOptions options;
    options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(trapper.port());
    Outcome outcome;
    outcome.run = kit::run_program({mode, "bmc01", bmc.url_base(), "monitor", "0penBmc!", "bmc01.example.com"}, options);
    for (const auto& call : trapper.calls()) outcome.delivered.emplace_back(call.host, call.key, call.value);
    outcome.requests = bmc.requests();
    return outcome;
}

Outcome run_against(const std::string& mode, const std::string& scenario,
                    const std::function<void(bmc_sim::TestBmc&)>& prepare = {}) {
    auto bmc = kit::start_bmc(kit::bmc_options(scenario));
    if (prepare) prepare(*bmc);
    return run_mode(mode, *bmc);
}

std::string scenario_file(const std::string& relative) {
    return kit::testdata_bytes("current_firmware/resources/" + relative);
}

const std::string kCh = "/redfish/v1/Chassis/chassis";
const std::string kStorage0 = "/redfish/v1/Systems/system/Storage/storage0";

// A build of 2023-06 to 2024-04 with health still populated on the storage.
void storage_with_health(bmc_sim::TestBmc& bmc) {
    auto storage = support::Json::parse(scenario_file("Systems/system/Storage/storage0.json"));
    storage["Status"] = {{"Health", "OK"}, {"HealthRollup", "OK"}, {"State", "Enabled"}};
    bmc.script("GET", kStorage0, bmc_sim::reply(200, {{"Content-Type", "application/json"}}, storage.dump(2)));
}

// A service root that announces no $expand.
void without_expand(bmc_sim::TestBmc& bmc) {
    auto root = support::Json::parse(scenario_file("index.json"));
    root["ProtocolFeaturesSupported"].erase("ExpandQuery");
    bmc.script("GET", "/redfish/v1", bmc_sim::reply(200, {{"Content-Type", "application/json"}}, root.dump(2)));
}

void not_found(bmc_sim::TestBmc& bmc, const std::string& path) {
    bmc.script("GET", path, bmc_sim::reply(404, {{"Content-Type", "application/json"}}, "{}"));
}

std::string value_of(const Delivered& delivered, const std::string& key) {
    for (const auto& [host, k, value] : delivered)
        if (k == key) return value;
    return "<not sent>";
}

Delivered without_storage_health(Delivered delivered) {
    std::erase_if(delivered, [](const auto& call) {
        return std::get<1>(call) == "storageHealth" || std::get<1>(call) == "storageHealthRollup";
    });
    return delivered;
}

class BothModes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { reference = new Outcome(run_against("discoveryOpenBMC", "a_healthy")); }
    static void TearDownTestSuite() { delete reference; }
    static Outcome* reference;
};
Outcome* BothModes::reference = nullptr;

TEST_F(BothModes, OldFirmwareGetsTheMainModesSevenRequestsAndTheSameDelivery) {
    ASSERT_EQ(reference->run.status, 0) << reference->run.err;
    ASSERT_GT(reference->delivered.size(), 23u);
    const auto redfish = run_against("discoveryRedfish", "a_healthy");
    EXPECT_EQ(redfish.run.status, 0) << redfish.run.err;
    EXPECT_EQ(redfish.run.out, reference->run.out);
    EXPECT_EQ(redfish.delivered, reference->delivered);
    ASSERT_EQ(redfish.requests.size(), 7u);
    // Login, the five fixed paths, logout (each session has its own id).
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(redfish.requests[i].method, reference->requests[i].method);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(redfish.requests[i].target, reference->requests[i].target);
}

TEST_F(BothModes, CurrentFirmwareDeliversWhatOldFirmwareDid) {
    for (const bool expand : {true, false}) {
        SCOPED_TRACE(expand ? "with $expand" : "member by member");
        const auto redfish = run_against("discoveryRedfish", "current_firmware", [&](bmc_sim::TestBmc& bmc) {
            storage_with_health(bmc);
            if (!expand) without_expand(bmc);
        });
        EXPECT_EQ(redfish.run.status, 0) << redfish.run.err;
        EXPECT_EQ(redfish.run.out, reference->run.out);
        EXPECT_EQ(redfish.delivered, reference->delivered);
        const std::size_t total = redfish.requests.size();
        std::cout << "discoveryRedfish on current firmware, " << (expand ? "with $expand: " : "without $expand: ")
                  << total << " requests\n";
        EXPECT_LE(total, expand ? 20u : 80u);
        bool expanded = false;
        for (const auto& request : redfish.requests) {
            expanded |= request.target.find("$expand") != std::string::npos;
            EXPECT_EQ(request.header("X-Auth-Token").has_value(), request.method != "POST") << request.target;
        }
        EXPECT_EQ(expanded, expand);
    }
}

TEST_F(BothModes, StorageWithOnlyStateGivesHealthFlagsZeroAndEverythingElseEqual) {
    const auto redfish = run_against("discoveryRedfish", "current_firmware");
    EXPECT_EQ(redfish.run.status, 0) << redfish.run.err;
    EXPECT_EQ(value_of(redfish.delivered, "storageHealth"), "0");
    EXPECT_EQ(value_of(redfish.delivered, "storageHealthRollup"), "0");
    EXPECT_EQ(value_of(redfish.delivered, "storageState"), "1");
    EXPECT_EQ(without_storage_health(redfish.delivered), without_storage_health(reference->delivered));
}

TEST(DiscoveryRedfish, AResourceFoundNowherePrintsItsLineAndEndsAsTheMainMode) {
    const auto redfish = run_against("discoveryRedfish", "current_firmware", [](bmc_sim::TestBmc& bmc) {
        without_expand(bmc);
        not_found(bmc, kCh + "/Sensors/power_PEAK_POWER");
    });
    const auto main_mode = run_against("discoveryOpenBMC", "a_healthy", [](bmc_sim::TestBmc& bmc) {
        not_found(bmc, kCh + "/Sensors/PEAK_POWER");
    });
    EXPECT_EQ(redfish.run.status, 1);
    EXPECT_EQ(main_mode.run.status, 1);
    EXPECT_EQ(redfish.run.out, main_mode.run.out);
    EXPECT_NE(redfish.run.out.find("Falha ao obter informações de pico de energia do chassi.\n"), std::string::npos);
    EXPECT_TRUE(redfish.delivered.empty());
    EXPECT_NE(redfish.run.err.find("PeakPower: the document is missing"), std::string::npos) << redfish.run.err;
    EXPECT_EQ(redfish.run.err.find("discoveryRedfish"), std::string::npos) << redfish.run.err;
    EXPECT_EQ(redfish.requests.back().method, "DELETE");
}

TEST(DiscoveryRedfish, StorageFoundNowhereEndsTheRunAtTheStorage) {
    const auto redfish = run_against("discoveryRedfish", "current_firmware", [](bmc_sim::TestBmc& bmc) {
        not_found(bmc, "/redfish/v1/Systems/system/Storage");
    });
    EXPECT_EQ(redfish.run.status, 1);
    EXPECT_EQ(redfish.run.out,
              "Falha ao obter informações de armazenamento.\nSessão encerrada com sucesso.\n");
    EXPECT_NE(redfish.run.err.find("Storage: the document is missing"), std::string::npos) << redfish.run.err;
}

TEST(DiscoveryRedfish, LinksToOtherHostsAreCutToTheirPath) {
    // A chassis collection naming its member by a full URL elsewhere: the
    // token goes only to the BMC, under that path.
    const auto redfish = run_against("discoveryRedfish", "current_firmware", [](bmc_sim::TestBmc& bmc) {
        storage_with_health(bmc);
        auto chassis = support::Json::parse(scenario_file("Chassis/index.json"));
        chassis["Members"][0]["@odata.id"] = "https://attacker.example/redfish/v1/Chassis/chassis";
        bmc.script("GET", "/redfish/v1/Chassis",
                   bmc_sim::reply(200, {{"Content-Type", "application/json"}}, chassis.dump(2)));
    });
    EXPECT_EQ(redfish.run.status, 0) << redfish.run.err;
    bool chassis_read = false;
    for (const auto& request : redfish.requests) chassis_read |= request.target == kCh;
    EXPECT_TRUE(chassis_read);
}

TEST(DiscoveryOpenBMC, AMissingDocumentAnswered404HintsAtTheOtherMode) {
    const auto main_mode = run_against("discoveryOpenBMC", "current_firmware");
    EXPECT_EQ(main_mode.run.status, 1);
    EXPECT_EQ(main_mode.requests.size(), 7u);
    EXPECT_TRUE(main_mode.delivered.empty());
    EXPECT_NE(main_mode.run.err.find("Storage: the document is missing (its read failed) — try the mode "
                                     "\"discoveryRedfish\" for current OpenBMC firmware\n"),
              std::string::npos)
        << main_mode.run.err;
    EXPECT_EQ(std::count(main_mode.run.err.begin(), main_mode.run.err.end(), '\n'), 1);

    // Refused for another reason (a stale token), the report stays as it was.
    const auto refused = run_against("discoveryOpenBMC", "a_healthy", [](bmc_sim::TestBmc& bmc) {
        bmc.script("GET", "/redfish/v1/Systems/system/Storage/1", bmc_sim::reply(401, {}, "Unauthorized"));
    });
    EXPECT_EQ(refused.run.status, 1);
    EXPECT_EQ(refused.run.err.find("discoveryRedfish"), std::string::npos) << refused.run.err;
}

}  // namespace
