// The real binary against BMCs that misbehave: silent, dripping, dropping,
// not speaking TLS, sending huge or malformed documents or dangerous login
// headers. Every run ends with the right status and one clear error line,
// never shows the password, and closes the session it opened.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <csignal>

#include <algorithm>
#include <set>
#include <thread>

#include "hostile_support.h"
#include "kit/raw_listener.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"

namespace {

using namespace std::chrono_literals;
using bmc_sim::reply;
using hostile::kSessions;

constexpr int kNoZabbix = 1;  // debug runs never contact Zabbix

std::string url_of(const bmc_sim::TestBmc& bmc, const std::string& path) {
    return "https://" + bmc.url_base() + path;
}

std::string local(int port) { return "127.0.0.1:" + std::to_string(port); }

TEST(HostileBmc, SilentOrDrippingPeerIsCutOffAtTheRunTimeBound) {
    kit::RawListener silent(kit::swallow_until_closed);
    // A byte a second of a TLS record that never completes: data keeps coming,
    // so only a bound on the whole run stops it.
    kit::RawListener dripping([](int fd, const std::atomic<bool>& stopping) {
        const std::string record = std::string("\x16\x03\x03\x40\x00", 5) + std::string(64, '\x02');
        for (std::size_t at = 0; !stopping && at < record.size(); ++at) {
            send(fd, record.data() + at, 1, MSG_NOSIGNAL);
            for (int tick = 0; tick < 20 && !stopping; ++tick) std::this_thread::sleep_for(50ms);
        }
    });
    for (const int port : {silent.port(), dripping.port()}) {
        SCOPED_TRACE(port);
        hostile::expect_timeout(hostile::run_probe(local(port), "debug", kNoZabbix, true));
    }
}

std::size_t deletes_of(const bmc_sim::TestBmc& bmc) {
    const auto requests = bmc.requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [](const auto& request) {
        return request.method == "DELETE";
    }));
}

// The bound cuts a run off after its login: one more logout, in a grace of
// its own past the bound, then the timeout text and status 0 as before.
TEST(HostileBmc, ReadThatNeverEndsIsCutOffAtTheRunTimeBoundAndLogsOut) {
    auto bmc = kit::start_bmc();
    auto hanging = reply(200, {}, "{}");
    hanging.delay = 5s;
    bmc->script("GET", "/redfish/v1/Chassis/chassis/Thermal", hanging);
    const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix, true);
    hostile::expect_timeout(run);
    EXPECT_EQ(run.out, "Sessão encerrada com sucesso.\n" + hostile::kTimeoutLine);
    const auto requests = bmc->requests();
    ASSERT_EQ(requests.size(), 5u) << hostile::request_log(*bmc);  // login, two reads, the hanging one, logout
    hostile::expect_logged_out(*bmc);
}

TEST(HostileBmc, TimedOutDiscoveryOfCurrentFirmwareLogsOut) {
    auto bmc = kit::start_bmc(kit::bmc_options("openbmc/current_tree"));
    auto hanging = reply(200, {}, "{}");
    hanging.delay = 5s;
    bmc->script("GET", "/redfish/v1/Chassis", hanging);
    kit::RunOptions options;
    options.program = BMC_PROBE_SHORT_LIMIT_BINARY;
    options.kill_after = std::chrono::seconds(20);
    const auto run = kit::run_program({"discoveryRedfish", "bmc", bmc->url_base(), "monitor", hostile::kPassword,
                                       "debug"},
                                      options);
    hostile::expect_timeout(run);
    EXPECT_EQ(deletes_of(*bmc), 1u) << hostile::request_log(*bmc);
    hostile::expect_logged_out(*bmc);
}

// A BMC that answers neither the logout nor the one after the bound: the
// grace ends that attempt too, and the run still ends with the timeout.
TEST(HostileBmc, LogoutThatNeverEndsIsTriedOnceMoreWithinTheGrace) {
    auto options = kit::bmc_options();
    options.logout_delay = 15s;
    auto bmc = kit::start_bmc(std::move(options));
    const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix, true);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Falha ao encerrar sessão: no answer within the 5-second grace past the run's time limit\n" +
                           hostile::kTimeoutLine);
    EXPECT_EQ(deletes_of(*bmc), 2u) << hostile::request_log(*bmc);
    EXPECT_GE(run.elapsed, std::chrono::milliseconds(6900));  // the bound, then the whole grace
    EXPECT_LT(run.elapsed, std::chrono::milliseconds(9000));
    hostile::expect_no_password(run);
}

bool asked_for(const bmc_sim::TestBmc& bmc, const std::string& path) {
    const auto requests = bmc.requests();
    return std::any_of(requests.begin(), requests.end(), [&](const auto& request) { return request.path == path; });
}

// Zabbix ends an external check that overruns its item's time-out with
// SIGTERM to its whole process group, and systemd stops the service the same
// way: a run that has logged in logs out before it ends, also when the stop
// comes while the BMC, holding the session already, still answers the login.
TEST(HostileBmc, SigtermAfterTheLoginLogsOutBeforeTheRunEnds) {
    const std::string thermal = "/redfish/v1/Chassis/chassis/Thermal";
    for (const auto& [login_delay, stop_once_asked] : {std::pair{0ms, thermal}, std::pair{3000ms, kSessions}}) {
        auto options = kit::bmc_options();
        options.login_delay = login_delay;
        auto bmc = kit::start_bmc(std::move(options));
        auto hanging = reply(200, {}, "{}");
        hanging.delay = 30s;
        bmc->script("GET", thermal, hanging);
        const auto stop = [&, asked = stop_once_asked](pid_t pid) {
            for (int tick = 0; tick < 400 && !asked_for(*bmc, asked); ++tick) std::this_thread::sleep_for(25ms);
            kill(pid, SIGTERM);
        };
        const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix, false, stop);
        hostile::expect_error_line(run, "Stopped", "stopped by SIGTERM");
        EXPECT_EQ(run.out, "Sessão encerrada com sucesso.\n") << stop_once_asked;
        EXPECT_EQ(deletes_of(*bmc), 1u) << hostile::request_log(*bmc);
        hostile::expect_logged_out(*bmc);
        EXPECT_LT(run.elapsed, 15s);  // not held until the hanging read ends
    }
}

TEST(HostileBmc, PeerThatDoesNotSpeakTlsIsATransportError) {
    const auto alert = [](int fd, const std::atomic<bool>& stopping) {
        const char fatal_handshake_failure[] = {0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28};
        send(fd, fatal_handshake_failure, sizeof fatal_handshake_failure, MSG_NOSIGNAL);
        (void)stopping;
    };
    const auto plain_http = [](int fd, const std::atomic<bool>& stopping) {
        const std::string answer = "HTTP/1.1 400 Bad Request\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
        send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        kit::swallow_until_closed(fd, stopping);
    };
    for (const auto& handler : {std::function<void(int, const std::atomic<bool>&)>(alert), {plain_http}}) {
        kit::RawListener peer(handler);
        const auto run = hostile::run_probe(local(peer.port()), "debug", kNoZabbix);
        hostile::expect_error_line(run, "TransportError", "POST https://" + local(peer.port()) + kSessions);
        EXPECT_EQ(peer.connections(), 1);
    }
}

struct BadRead {
    const char* path;
    bmc_sim::Reply answer;
    const char* kind;
    const char* why;
};

bmc_sim::Reply dropped_midway(const std::string& body) {
    auto answer = reply(200, {}, body);
    answer.drop_after = body.size() / 2;
    return answer;
}

TEST(HostileBmc, BrokenOrMalformedDocumentsEndTheRunAfterTheLogout) {
    const std::string body(4000, ' ');
    const BadRead cases[] = {
        {"/redfish/v1/Chassis/chassis/Power", dropped_midway("{" + body + "}"), "TransportError", ""},
        {"/redfish/v1/Chassis/chassis/Thermal", reply(200, {}, std::string(40u << 20, ' ')), "ResponseTooLarge",
         "larger than 32 MiB"},
        {"/redfish/v1/Systems/system/Storage/1", reply(200, {}, std::string(100000, '[')), "InvalidJson",
         "nests deeper than 256"},
        {"/redfish/v1/Chassis/chassis/Sensors/total_power", reply(200, {}, "{\"Name\": \"total\xff\xfe power\"}"),
         "InvalidJson", "not JSON"},
        {"/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER", reply(200, {}, R"({"Reading": NaN})"), "InvalidJson",
         "not JSON"},
        {"/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER", reply(200, {}, R"({"Reading": -Infinity})"),
         "InvalidJson", "not JSON"},
        {"/redfish/v1/Chassis/chassis/Power", reply(200, {}, R"({"Voltages": [{"ReadingVolts": 1e400}]})"),
         "InvalidJson", "beyond the range of a double"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(std::string(bad.kind) + " " + bad.path);
        auto bmc = kit::start_bmc();
        bmc->script("GET", bad.path, bad.answer);
        const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix);
        hostile::expect_error_line(run, bad.kind, "GET " + url_of(*bmc, bad.path));
        EXPECT_NE(run.err.find(bad.why), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("Sessão encerrada com sucesso.\n"), std::string::npos) << run.out;
        hostile::expect_logged_out(*bmc);
    }
}

TEST(HostileBmc, RepeatedMemberNamesKeepTheLastValue) {
    auto bmc = kit::start_bmc();
    std::string storage = bmc_sim::load_scenario(kit::testdata_dir("a_healthy")).resources[0].body;
    // A first "Status" that the healthy one later in the body replaces.
    storage.insert(1, R"("Status": {"Health": "Critical", "HealthRollup": "Critical", "State": "Absent"},)");
    bmc->script("GET", "/redfish/v1/Systems/system/Storage/1", reply(200, {}, storage));
    kit::TestTrapper trapper;
    const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    hostile::expect_no_password(run);
    hostile::expect_logged_out(*bmc);
    const auto calls = trapper.calls();
    ASSERT_GE(calls.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(calls[i].value, "1") << calls[i].key;
}

TEST(HostileBmc, TokenWithControlCharactersIsNeverSentAndFailsTheLogin) {
    const std::vector<std::string> tokens = {"abc\x01" "def", "abc\x1b[31mdef", "ab\tcd", "tok\x7f"};
    for (const auto& token : tokens) {
        SCOPED_TRACE(token);
        auto bmc = kit::start_bmc();
        bmc->script("POST", kSessions,
                    reply(201, {{"X-Auth-Token", token}, {"Location", kSessions + "/s1"}}, "{}"));
        const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "Erro ao buscar o token de autenticação. Contactar Quorvane!\n");
        EXPECT_EQ(run.err, "");
        hostile::expect_no_password(run);
        const auto requests = bmc->requests();
        ASSERT_EQ(requests.size(), 1u);  // the login, nothing that could carry the token
        EXPECT_EQ(requests[0].method, "POST");
    }
}

// The reads and the logout use the login's token, the BMC sends its answers
// without looking at it.
std::unique_ptr<bmc_sim::TestBmc> bmc_with_login(const std::string& location) {
    auto bmc = kit::start_bmc();
    for (const auto& resource : bmc_sim::load_scenario(kit::testdata_dir("a_healthy")).resources)
        bmc->script("GET", resource.path, reply(200, {}, resource.body));
    bmc->script("POST", kSessions, reply(201, {{"X-Auth-Token", "T0kenT0kenT0kenT0ken"}, {"Location", location}}, "{}"));
    bmc->script("DELETE", kSessions + "/s1", reply(200, {}, "{}"));
    return bmc;
}

TEST(HostileBmc, LocationNamingAnotherHostNeverGetsTheToken) {
    kit::RawListener elsewhere(kit::swallow_until_closed);
    const std::string other = local(elsewhere.port());
    {
        auto bmc = bmc_with_login("https://" + other + kSessions + "/s1");
        const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("Sessão encerrada com sucesso.\n"), std::string::npos) << run.out;
        const auto requests = bmc->requests();
        ASSERT_EQ(requests.size(), 7u);
        EXPECT_EQ(requests.back().method, "DELETE");
        EXPECT_EQ(requests.back().target, kSessions + "/s1");
        EXPECT_EQ(requests.back().header("X-Auth-Token"), "T0kenT0kenT0kenT0ken");
        hostile::expect_no_password(run);
    }
    for (const std::string& location : {"@" + other + kSessions + "/s1", ".localhost" + kSessions + "/s1"}) {
        SCOPED_TRACE(location);
        auto bmc = bmc_with_login(location);
        const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("Falha ao encerrar sessão: the \"Location\" of the login is not a path on this BMC\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(bmc->requests().size(), 6u);  // no logout
        hostile::expect_no_password(run);
    }
    EXPECT_EQ(elsewhere.connections(), 0);
}

struct Escape {
    std::string mode, scenario, method, path;
    bmc_sim::Reply answer;
    std::string line;  // printed
};

// A login's Location, the session collection the root links when the login
// is refused (the BMC takes another password), a member of the chassis: each
// leads out of the tree.
TEST(HostileBmc, LinksWithDotSegmentsThatLeaveTheRedfishTreeAreNotFollowed) {
    const auto login_at = [](const std::string& location) {
        return reply(201, {{"X-Auth-Token", "T0kenT0kenT0kenT0ken"}, {"Location", location}}, "{}");
    };
    const std::string outside =
        "Falha ao encerrar sessão: the \"Location\" of the login is not a path under /redfish/v1: ";
    const std::string root = R"({"Links": {"Sessions": {"@odata.id": "/redfish/v1/%2e%2e/login"}}})";
    const Escape cases[] = {
        {"discoveryOpenBMC", "a_healthy", "POST", kSessions, login_at(kSessions + "/../../../cgi-bin/x"), outside},
        {"discoveryOpenBMC", "a_healthy", "POST", kSessions, login_at(kSessions + "/%2e%2E/%2e%2e/%2E%2e/x"), outside},
        {"discoveryRedfish", "openbmc/current_tree", "GET", "/redfish/v1", reply(200, {}, root), "Falha ao obter"},
        {"discoveryRedfish", "openbmc/current_tree", "GET", "/redfish/v1/Chassis",
         reply(200, {}, R"({"Members": [{"@odata.id": "/redfish/v1/Chassis/./../../x"}]})"), "Sessão encerrada"},
    };
    for (const auto& escape : cases) {
        auto options = kit::bmc_options(escape.scenario);
        if (escape.path == "/redfish/v1") options.password = "another";
        auto bmc = kit::start_bmc(std::move(options));
        bmc->script(escape.method, escape.path, escape.answer);
        const auto run =
            kit::run_program({escape.mode, "bmc", bmc->url_base(), "monitor", hostile::kPassword, "debug"});
        EXPECT_NE(run.out.find(escape.line), std::string::npos) << run.out;
        hostile::expect_no_password(run);
        for (const auto& request : bmc->requests()) {
            EXPECT_EQ(request.target.rfind("/redfish/v1", 0), 0u) << hostile::request_log(*bmc);
            EXPECT_EQ(request.target.find_first_of(".%"), std::string::npos) << hostile::request_log(*bmc);
        }
    }
}

// A refused logout's body of 20 MiB, with escape sequences, carriage returns
// and lines that read "OK" as a delivery's would: one bounded line, escaped.
TEST(HostileBmc, RefusedLogoutBodyReachesTheTerminalEscapedAndBounded) {
    std::string body;
    while (body.size() < (20u << 20)) body += "\x1b]0;pwned\x07\x1b[2J\rOK\nOK\r\n";
    auto bmc = bmc_with_login(kSessions + "/s1");
    bmc->script("DELETE", kSessions + "/s1", reply(500, {}, body));
    const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string refused = "Falha ao encerrar sessão: 500\n";
    const auto at = run.out.find(refused);
    ASSERT_NE(at, std::string::npos) << run.out.substr(0, 2000);
    const auto start = at + refused.size();
    const std::string body_line = run.out.substr(start, run.out.find('\n', start) - start);
    EXPECT_LT(body_line.size(), 1000u);
    EXPECT_EQ(body_line.find_first_of("\x1b\r\x07"), std::string::npos) << body_line;
    EXPECT_EQ(run.out.find("\nOK\n"), std::string::npos);
}

}  // namespace

namespace {

// The healthy machine's Thermal with its first temperatures renamed.
std::string thermal_named(const std::vector<std::pair<std::string, std::string>>& names_and_ids) {
    auto thermal = support::Json::parse(bmc_sim::load_scenario(kit::testdata_dir("a_healthy")).resources[2].body);
    for (std::size_t i = 0; i < names_and_ids.size(); ++i) {
        thermal["Temperatures"][i]["Name"] = names_and_ids[i].first;
        thermal["Temperatures"][i]["MemberId"] = names_and_ids[i].second;
    }
    return thermal.dump();
}

// Names chosen to meet what the generic mode makes of repeated names: every
// row still gets a key of its own, so no value lands on another row's key.
TEST(HostileBmc, RowNamesThatMimicTheRenamingStillGiveEveryRowItsOwnKeys) {
    auto bmc = kit::start_bmc();
    bmc->script("GET", "/redfish/v1/Chassis/chassis/Thermal",
                reply(200, {}, thermal_named({{"X", "1"}, {"X", "1"}, {"X (1)", "a"}, {"X (1) (2)", "b"}})));
    kit::TestTrapper trapper;
    kit::RunOptions options;
    options.env["BMC_PROBE_ZABBIX_SERVER"] = local(trapper.port());
    const auto run =
        kit::run_program({"discoveryRedfish", "bmc", bmc->url_base(), "monitor", hostile::kPassword, "bmc01"}, options);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const auto keys = trapper.keys();
    const std::set<std::string> distinct(keys.begin(), keys.end());
    EXPECT_EQ(distinct.size(), keys.size());
    EXPECT_EQ(std::count_if(keys.begin(), keys.end(), [](const std::string& key) { return key.rfind("tempHealth[X", 0) == 0; }),
              4);
}

// Sensor names with escape sequences and NUL reach the report escaped; only
// the report's own colours are control bytes on the terminal.
TEST(HostileBmc, BmcTextInTheReportIsEscaped) {
    auto bmc = kit::start_bmc();
    bmc->script("GET", "/redfish/v1/Chassis/chassis/Thermal",
                reply(200, {}, thermal_named({{std::string("\x1b]0;owned\x07 T\r\nOK\0z", 18), "t"}})));
    const auto run = hostile::run_probe(bmc->url_base(), "debug", kNoZabbix);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\\x1b]0;owned\\x07 T\\r\\nOK\\x00z"), std::string::npos) << run.out;
    for (const char raw : {'\x07', '\r', '\0'}) EXPECT_EQ(run.out.find(raw), std::string::npos) << int(raw);
    EXPECT_EQ(run.out.find("\x1b]"), std::string::npos);
    EXPECT_EQ(run.out.find("\nOK\n"), std::string::npos);
}

}  // namespace
