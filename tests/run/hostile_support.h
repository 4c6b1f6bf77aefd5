#pragma once
// What every run of the real binary against a hostile BMC or a faulty Zabbix
// must show: one error line naming the kind and where, no password anywhere,
// and the session closed when the login had succeeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "bmc-sim/test_bmc.h"
#include "kit/run_binary.h"

namespace hostile {

inline const std::string kPassword = "Hostile-S3cret-pw#417";
inline const std::string kSessions = "/redfish/v1/SessionService/Sessions";
inline const std::string kTimeoutLine = "Tempo limite de execução excedido: 2 segundos\n";

inline kit::RunResult run_probe(const std::string& url_base, const std::string& zabbix_host, int zabbix_port,
                                bool short_limit = false, std::function<void(pid_t)> while_running = {}) {
    kit::RunOptions options;
    options.while_running = std::move(while_running);
    if (short_limit) options.program = BMC_PROBE_SHORT_LIMIT_BINARY;
    options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(zabbix_port);
    options.kill_after = std::chrono::seconds(20);
    return kit::run_program({"discoveryOpenBMC", "bmc", url_base, "monitor", kPassword, zabbix_host}, options);
}

inline void expect_no_password(const kit::RunResult& run) {
    EXPECT_EQ(run.out.find(kPassword), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(kPassword), std::string::npos) << run.err;
}

// Exactly one line on stderr: "bmc-probe: erro: <kind>: ..." holding where.
inline void expect_error_line(const kit::RunResult& run, const std::string& kind, const std::string& where) {
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("bmc-probe: erro: " + kind + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(where), std::string::npos) << run.err;
    expect_no_password(run);
}

// The run hit its 2-second bound: the timeout text, status 0, within a
// second of the bound.
inline void expect_timeout(const kit::RunResult& run) {
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(kTimeoutLine), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_GE(run.elapsed, std::chrono::milliseconds(1900));
    EXPECT_LT(run.elapsed, std::chrono::milliseconds(3000));
    expect_no_password(run);
}

// The BMC's requests, one line each, for a failure message.
inline std::string request_log(const bmc_sim::TestBmc& bmc) {
    std::string log = "BMC requests:\n";
    for (const auto& request : bmc.requests()) log += "  " + request.method + " " + request.path + "\n";
    return log;
}

// The newest login's session was deleted with its token.
inline void expect_logged_out(const bmc_sim::TestBmc& bmc) {
    const auto requests = bmc.requests();
    const bool deleted = std::any_of(requests.begin(), requests.end(), [&](const bmc_sim::RecordedRequest& request) {
        return request.method == "DELETE" && request.path == bmc.last_session_path() &&
               request.header("X-Auth-Token") == bmc.last_token();
    });
    EXPECT_TRUE(deleted) << "no logout of " << bmc.last_session_path();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().method, "DELETE");  // nothing after the logout
}

}  // namespace hostile
