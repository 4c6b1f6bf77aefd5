// Whole runs of the real binary against the simulated BMC and the test
// trapper: what the BMC sees, what Zabbix receives, what the user reads.
#include <gtest/gtest.h>

#include "kit/run_binary.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"


namespace {

const std::string kPassword = "S3cr3t-\"pw\\";
const std::string kLogoutLine = "Sessão encerrada com sucesso.\n";
const std::string kReportStart = "\x1b[1;31mModo debug ativado:\n";

struct Run {
    std::unique_ptr<bmc_sim::TestBmc> bmc;
    kit::TestTrapper trapper;
    kit::RunResult result;
};

kit::RunResult run_against(const bmc_sim::TestBmc& bmc, const kit::TestTrapper& trapper,
                           const std::string& zabbix_host, const std::string& mode = "discoveryOpenBMC") {
    kit::RunOptions options;
    options.env = {{"BMC_PROBE_ZABBIX_SERVER", "127.0.0.1:" + std::to_string(trapper.port())}};
    auto result = kit::run_program({mode, "bmc-01", bmc.url_base(), "monitor", kPassword, zabbix_host}, options);
    EXPECT_EQ(result.out.find(kPassword), std::string::npos);
    EXPECT_EQ(result.err.find(kPassword), std::string::npos);
    return result;
}

std::vector<std::string> request_lines(const bmc_sim::TestBmc& bmc) {
    std::vector<std::string> lines;
    for (const auto& r : bmc.requests()) lines.push_back(r.method + " " + r.target);
    return lines;
}

bool one_line(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

TEST(RunEndToEnd, DebugRunMakesTheSevenRequestsInOrderThenPrintsTheReport) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    const auto r = run_against(*bmc, trapper, "debug");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(kLogoutLine + kReportStart, 0), 0u);
    EXPECT_NE(r.out.find("Nome da Fonte: \x1b[0;0mP12V\n\x1b[0;32mVoltagem: \x1b[0;0m12.04 V\n"), std::string::npos);
    EXPECT_EQ(request_lines(*bmc), (std::vector<std::string>{
                                       "POST /redfish/v1/SessionService/Sessions",
                                       "GET /redfish/v1/Systems/system/Storage/1",
                                       "GET /redfish/v1/Chassis/chassis/Power",
                                       "GET /redfish/v1/Chassis/chassis/Thermal",
                                       "GET /redfish/v1/Chassis/chassis/Sensors/total_power",
                                       "GET /redfish/v1/Chassis/chassis/Sensors/PEAK_POWER",
                                       "DELETE " + bmc->last_session_path(),
                                   }));
    EXPECT_EQ(bmc->tls_connections(), 1);
    EXPECT_TRUE(trapper.calls().empty());
}

TEST(RunEndToEnd, LoginFailuresEndWithOneAfterOneRequest) {
    auto options = kit::bmc_options();
    options.password = "another";
    auto refused = kit::start_bmc(std::move(options));
    kit::TestTrapper trapper;
    const auto r = run_against(*refused, trapper, "debug");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Falha ao obter o token de autenticação.\n"
                     "Erro ao buscar o token de autenticação. Contactar Quorvane!\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(refused->requests().size(), 1u);

    auto empty_token = kit::start_bmc();
    empty_token->script("POST", "/redfish/v1/SessionService/Sessions",
                        bmc_sim::reply(201, {{"X-Auth-Token", ""}, {"Location", "/redfish/v1/SessionService/Sessions/x"}}));
    const auto e = run_against(*empty_token, trapper, "debug");
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out, "Erro ao buscar o token de autenticação. Contactar Quorvane!\n");
    EXPECT_EQ(empty_token->requests().size(), 1u);
}

TEST(RunEndToEnd, LoginWithoutLocationStillReadsAndReports) {
    const auto options = kit::bmc_options();
    auto bmc = kit::start_bmc(options);
    bmc->script("POST", "/redfish/v1/SessionService/Sessions", bmc_sim::reply(201, {{"X-Auth-Token", "tok123"}}));
    for (const auto& resource : options.scenario.resources)
        bmc->script("GET", resource.path, bmc_sim::reply(200, {}, resource.body));
    kit::TestTrapper trapper;
    const auto r = run_against(*bmc, trapper, "debug");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(kReportStart, 0), 0u);  // no session path: no logout to report
    const auto requests = bmc->requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests.back().header("X-Auth-Token"), "tok123");
}

TEST(RunEndToEnd, MissingThermalIsReadPastThenEndsTheRunBeforeAnythingIsReported) {
    auto options = kit::bmc_options();
    options.scenario.resources[2].status = 404;
    auto bmc = kit::start_bmc(std::move(options));
    kit::TestTrapper trapper;
    for (const std::string zabbix_host : {"debug", "zbx"}) {
        const auto r = run_against(*bmc, trapper, zabbix_host);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Falha ao obter informações térmicas do chassi.\n" + kLogoutLine);
        EXPECT_TRUE(one_line(r.err)) << r.err;
        EXPECT_NE(r.err.find("DocumentError: Thermal"), std::string::npos) << r.err;
    }
    const auto lines = request_lines(*bmc);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[4], "GET /redfish/v1/Chassis/chassis/Sensors/total_power");
    EXPECT_EQ(lines[6].rfind("DELETE ", 0), 0u);
    EXPECT_TRUE(trapper.calls().empty());
}

TEST(RunEndToEnd, ABodyThatIsNotJsonStillLogsOutBeforeTheRunFails) {
    auto bmc = kit::start_bmc();
    bmc->script("GET", "/redfish/v1/Chassis/chassis/Power", bmc_sim::reply(200, {}, "<html>oops</html>"));
    kit::TestTrapper trapper;
    const auto r = run_against(*bmc, trapper, "zbx");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kLogoutLine);
    EXPECT_TRUE(one_line(r.err)) << r.err;
    EXPECT_NE(r.err.find("InvalidJson: GET https://" + bmc->url_base() + "/redfish/v1/Chassis/chassis/Power"),
              std::string::npos)
        << r.err;
    const auto lines = request_lines(*bmc);
    ASSERT_EQ(lines.size(), 4u);  // login, storage, power, then straight to the logout
    EXPECT_EQ(lines.back(), "DELETE " + bmc->last_session_path());
    EXPECT_TRUE(trapper.calls().empty());
}

TEST(RunEndToEnd, DeliveryOfTheRealisticMachine) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    const auto r = run_against(*bmc, trapper, "srv-01");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kLogoutLine + "OK\n");
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), 23u + 3u * (16u + 8u + 18u));
    for (const auto& call : calls) EXPECT_EQ(call.host, "srv-01");
    EXPECT_EQ(trapper.connections(), 2);  // the fixed items and documents, then the per-row values
    const auto value_of = [&](const std::string& key) {
        for (const auto& call : calls)
            if (call.key == key) return call.value;
        return std::string("<not sent>");
    };
    EXPECT_EQ(calls[0].key, "storageHealth");
    EXPECT_EQ(calls[6].key, "discovery_ChassiPower");
    EXPECT_EQ(calls[7].key, "readingVolts[P0V83 LAN AUX]");
    EXPECT_EQ(calls[7 + 48].key, "discovery_ChassiThermalFan");
    EXPECT_EQ(calls.back().key, "peakPowerState");
    EXPECT_EQ(value_of("storageHealth"), "1");
    EXPECT_EQ(value_of("powerControlConsumedWatts"), "482.5");
    EXPECT_EQ(value_of("readingVolts[P12V]"), "12.04");
    EXPECT_EQ(value_of("readingVolts[PSU1 Input Voltage]"), "230.0");
    EXPECT_EQ(value_of("readingRPM[Fan 1]"), "5160");
    EXPECT_EQ(value_of("readingCelsius[Inlet BRD Temp]"), "22.96");
    EXPECT_EQ(value_of("totalPowerMax"), "5400.0");
    EXPECT_EQ(value_of("peakPowerThresholdLowerCritical"), "0.0");
    EXPECT_EQ(value_of("discovery_ChassiPower").rfind(
                  R"({"data": [{"{#VOLTAGE_NAME}": "P0V83 LAN AUX", "{#READING_VOLTS}": 0.83, "{#VOLTAGE_HEALTH}": 1, )"
                  R"("{#VOLTAGE_STATE}": 1}, {"{#VOLTAGE_NAME}": "P105 PCH AUX")",
                  0),
              0u);
}

TEST(RunEndToEnd, UpperCaseDebugIsDeliveredUnderThatName) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    const auto r = run_against(*bmc, trapper, "DEBUG");
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(trapper.calls().empty());
    EXPECT_EQ(trapper.calls().front().host, "DEBUG");
}

TEST(RunEndToEnd, RefusedFixedItemAndUnreachableZabbixEndWithOne) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    trapper.refuse_keys([](const std::string& key) { return key == "totalPower"; });
    const auto refused = run_against(*bmc, trapper, "srv-01");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, kLogoutLine);
    EXPECT_TRUE(one_line(refused.err)) << refused.err;
    EXPECT_NE(refused.err.find("totalPower"), std::string::npos);
    EXPECT_EQ(trapper.calls().size(), 149u);  // everything else still went out

    kit::TestTrapper closed({.listening = false, .psk = std::nullopt});
    const auto down = run_against(*bmc, closed, "srv-01");
    EXPECT_EQ(down.status, 1);
    EXPECT_TRUE(one_line(down.err)) << down.err;
    EXPECT_NE(down.err.find("127.0.0.1:" + std::to_string(closed.port())), std::string::npos) << down.err;
    EXPECT_NE(down.err.find("storageHealth"), std::string::npos) << down.err;
}

}  // namespace
