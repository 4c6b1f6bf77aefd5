// The Redfish exchange of a whole run: login, the five reads in the cycle's
// order, logout; in-process against the simulated BMC, and the real binary.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "kit/capture_stdout.h"
#include "kit/run_binary.h"
#include "kit/test_bmc.h"
#include "redfish/readers.h"
#include "redfish/session.h"
#include "support/run_guard.h"

namespace {

using namespace std::chrono_literals;

using Reader = std::optional<support::Json> (*)(redfish::Bmc&, const std::string&);
const Reader kCycleOrder[] = {redfish::get_storage, redfish::get_chassisPower, redfish::get_chassisThermal,
                              redfish::get_chassisTotalPower, redfish::get_chassisPeakPower};

// Login, five reads and logout, as the collection cycle makes them.
std::vector<std::optional<support::Json>> exchange(const redfish::BmcAccess& bmc_access) {
    std::vector<std::optional<support::Json>> documents;
    const auto link = kit::link_for(bmc_access);
    const auto session = redfish::post_authToken(link->bmc);
    if (!session.token) return documents;
    for (const Reader read : kCycleOrder) documents.push_back(read(link->bmc, *session.token));
    redfish::delete_session(link->bmc, *session.token, session.session_uri);
    return documents;
}

TEST(Exchange, ARunIsSevenRequestsOverOneTlsConnectionWithOneToken) {
    auto bmc = kit::start_bmc();
    std::vector<std::optional<support::Json>> documents;
    EXPECT_EQ(kit::stdout_of([&] { documents = exchange(kit::access_for(*bmc)); }),
              "Sessão encerrada com sucesso.\n");
    ASSERT_EQ(documents.size(), 5u);
    const auto power = documents[1];
    ASSERT_TRUE(power && documents[2]);
    EXPECT_EQ(power->at("Voltages").size(), 16u);
    EXPECT_EQ(documents[2]->at("Fans").size(), 8u);
    EXPECT_EQ(documents[2]->at("Temperatures").size(), 18u);
    EXPECT_TRUE(power->at("PowerControl")[0]["PowerConsumedWatts"].is_number_float());

    const auto requests = bmc->requests();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"POST", "/redfish/v1/SessionService/Sessions"},
        {"GET", "/redfish/v1/Systems/system/Storage/1"},
        {"GET", "/redfish/v1/Chassis/chassis/Power"},
        {"GET", "/redfish/v1/Chassis/chassis/Thermal"},
        {"GET", "/redfish/v1/Chassis/chassis/Sensors/total_power"},
        {"GET", "/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER"},
        {"DELETE", bmc->last_session_path()},
    };
    ASSERT_EQ(requests.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::make_pair(requests[i].method, requests[i].target), expected[i]);
        EXPECT_EQ(requests[i].header("X-Auth-Token"), i == 0 ? std::nullopt : std::optional(bmc->last_token()));
        EXPECT_EQ(requests[i].header("Content-Type"), i == 0 ? std::optional<std::string>("application/json")
                                                             : std::nullopt);
        EXPECT_FALSE(requests[i].header("Cookie"));
        EXPECT_EQ(requests[i].connection, 1);
        EXPECT_EQ(requests[i].remote_port, requests[0].remote_port);
    }
    EXPECT_EQ(bmc->tls_connections(), 1);
}

TEST(Exchange, ARefusedReadDoesNotStopTheOthers) {
    auto options = kit::bmc_options();
    options.scenario.resources[2].status = 404;  // Thermal
    auto bmc = kit::start_bmc(std::move(options));
    std::vector<std::optional<support::Json>> documents;
    EXPECT_EQ(kit::stdout_of([&] { documents = exchange(kit::access_for(*bmc)); }),
              "Falha ao obter informações térmicas do chassi.\nSessão encerrada com sucesso.\n");
    ASSERT_EQ(documents.size(), 5u);
    EXPECT_FALSE(documents[2]);
    EXPECT_TRUE(documents[3] && documents[4]);
    EXPECT_EQ(bmc->requests().size(), 7u);
}

// The run-time bound cuts every request short, the logout's included: a
// timeout is not one of the failures the logout reports and swallows.
TEST(Exchange, SlowLoginOrLogoutIsCutOffByTheRunTimeBound) {
    auto options = kit::bmc_options();
    options.login_delay = 5s;
    auto slow_login = kit::start_bmc(std::move(options));
    auto slow_logout = kit::start_bmc();
    auto slow = bmc_sim::reply(200);
    slow.delay = 5s;
    slow_logout->script("DELETE", "/redfish/v1/SessionService/Sessions/s1", slow);
    const std::vector<std::function<void()>> requests = {
        [&] { redfish::post_authToken(kit::link_for(kit::access_for(*slow_login), 300ms)->bmc); },
        [&] {
            redfish::delete_session(kit::link_for(kit::access_for(*slow_logout), 300ms)->bmc, "t",
                                    "/redfish/v1/SessionService/Sessions/s1");
        },
    };
    for (const auto& request : requests) {
        const auto started = std::chrono::steady_clock::now();
        std::string printed;
        EXPECT_THROW(printed = kit::stdout_of(request), support::Interrupted);
        EXPECT_EQ(printed, "");
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_GE(elapsed, 290ms);
        EXPECT_LT(elapsed, 1000ms);
    }
}

std::string process_state(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? "gone" : text.substr(close + 2, 1);
}

std::string command_line_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// While the probe waits for its login to be answered, the process list must
// no longer show the password.
TEST(Exchange, ThePasswordIsGoneFromTheCommandLineWhileTheProbeWaitsForTheBmc) {
    auto options = kit::bmc_options();
    options.login_delay = 1s;
    auto bmc = kit::start_bmc(std::move(options));
    std::optional<std::string> seen_while_waiting;
    kit::RunOptions run;
    run.env = {{"BMC_PROBE_ZABBIX_SERVER", "127.0.0.1:9"}};
    run.kill_after = 20s;
    run.while_running = [&](pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!bmc->requests().empty()) {
                seen_while_waiting = command_line_of(pid);
                return;
            }
            const auto state = process_state(pid);
            if (state == "Z" || state == "gone") return;
            std::this_thread::sleep_for(5ms);
        }
    };
    const auto result = kit::run_program({"discoveryOpenBMC", "h", bmc->url_base(), "user", "SECRETPW", "zbx"}, run);
    EXPECT_EQ(result.out.find("SECRETPW"), std::string::npos);
    EXPECT_EQ(result.err.find("SECRETPW"), std::string::npos);
    ASSERT_TRUE(seen_while_waiting);
    EXPECT_NE(seen_while_waiting->find("discoveryOpenBMC"), std::string::npos) << *seen_while_waiting;
    EXPECT_NE(seen_while_waiting->find("user"), std::string::npos) << *seen_while_waiting;
    EXPECT_EQ(seen_while_waiting->find("SECRETPW"), std::string::npos) << *seen_while_waiting;
    // The wiped argument was copied first: the login carried the password.
    EXPECT_NE(bmc->requests().at(0).body.find("\"SECRETPW\""), std::string::npos);
}

}  // namespace
