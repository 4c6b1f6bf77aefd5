// The real binary in its fleet mode: the file it refuses, a reload that adds
// and removes BMCs, a BMC that fails while the others go on, a stop with
// sessions open, and Zabbix down and back.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hostile_support.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

const fs::path kDir = fs::temp_directory_path() / ("bmc-probe-fleet-" + std::to_string(getpid()));

fs::path write_file(const std::string& name, const std::string& text) {
    fs::create_directories(kDir);
    const fs::path path = kDir / name;
    std::ofstream(path) << text;
    return path;
}

std::string line_for(const std::string& zabbix_host, const bmc_sim::TestBmc& bmc,
                     const std::string& password = hostile::kPassword) {
    return zabbix_host + " discoveryOpenBMC " + bmc.url_base() + " monitor " + password + "\n";
}

// The fleet until while_running returns, then SIGTERM.
kit::RunResult run_fleet(const fs::path& file, int zabbix_port, const std::function<void(pid_t)>& while_running,
                         std::map<std::string, std::string> env = {}) {
    kit::RunOptions options;
    options.env = std::move(env);
    options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(zabbix_port);
    options.env.emplace("BMC_PROBE_FLEET_INTERVAL", "1");
    options.kill_after = seconds(60);
    options.while_running = [&](pid_t pid) {
        while_running(pid);
        kill(pid, SIGTERM);
    };
    return kit::run_program({"fleet", file.string()}, options);
}

bool eventually(const std::function<bool()>& holds, milliseconds within = seconds(15)) {
    const auto until = std::chrono::steady_clock::now() + within;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return true;
}

std::vector<std::string> run_lines(const kit::TestTrapper& trapper, const std::string& zabbix_host) {
    std::vector<std::string> lines;
    for (const auto& call : trapper.calls())
        if (call.host == zabbix_host && call.key == "bmcProbeRun") lines.push_back(call.value);
    return lines;
}

void expect_clean_stop(const kit::RunResult& run) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("bmc-probe: fleet: stopped\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(hostile::kPassword), std::string::npos) << run.err;
}

TEST(Fleet, RefusesAFileWithABadLineNamingFileLineAndWhy) {
    auto bmc = kit::start_bmc();
    const std::string good = line_for("bmc01", *bmc);
    const std::string pin = "cert-sha256:" + std::string(64, 'a');
    struct Bad {
        std::string line;
        std::string why;
    };
    const Bad bad[] = {
        {"bmc02 discoveryOpenBMC 127.0.0.1 monitor", "4 fields, not the 5"},
        {"bmc02 discoveryOpenBMC 127.0.0.1 monitor " + hostile::kPassword + " " + pin + " extra", "7 fields"},
        {"bmc02 discoveryIPMI 127.0.0.1 monitor " + hostile::kPassword, "no mode \"discoveryIPMI\""},
        {"debug discoveryOpenBMC 127.0.0.1 monitor " + hostile::kPassword,
         "the Zabbix host \"debug\" would print a report"},
        {"bmc01 discoveryRedfish 127.0.0.1 monitor " + hostile::kPassword,
         "the Zabbix host \"bmc01\" is already on line 2"},
        {"bmc02 discoveryOpenBMC 127.0.0.1 monitor " + hostile::kPassword + " bmc", "a sixth field is a certificate"},
        {"bmc02 discoveryOpenBMC 127.0.0.1 monitor " + hostile::kPassword + " cert-sha256:12",
         "the host argument cert-sha256:12: not a SHA-256"},
        {"bmc02 discoveryOpenBMC 127.0.0.1 monitor \x1b" + hostile::kPassword, "a control character in the line"},
    };
    for (const auto& row : bad) {
        SCOPED_TRACE(row.why);
        const auto file = write_file("bad.fleet", "# BMCs\n" + good + "\n" + row.line + "\n");
        kit::RunOptions options;
        options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:1";
        const auto run = kit::run_program({"fleet", file.string()}, options);
        hostile::expect_error_line(run, "InvalidSetting", file.string() + ":4: " + row.why);
    }
    kit::RunOptions options;
    options.env["BMC_PROBE_FLEET_INTERVAL"] = "0";
    const auto zero = kit::run_program({"fleet", write_file("good.fleet", good).string()}, options);
    hostile::expect_error_line(zero, "InvalidSetting", "BMC_PROBE_FLEET_INTERVAL=0: not a whole number from 1");
    const auto missing = kit::run_program({"fleet", (kDir / "none.fleet").string()});
    hostile::expect_error_line(missing, "UnreadableFile", "none.fleet: No such file or directory");
}

// A refused reload keeps the list; a good one starts the new BMC and stops
// the removed one after its current run.
TEST(Fleet, ReloadAddsAndRemovesBmcs) {
    auto first = kit::start_bmc();
    auto second = kit::start_bmc();
    kit::TestTrapper trapper;
    const auto file = write_file("reload.fleet", line_for("bmc01", *first));
    std::size_t first_runs_at_removal = 0;
    const auto run = run_fleet(file, trapper.port(), [&](pid_t pid) {
        ASSERT_TRUE(eventually([&] { return run_lines(trapper, "bmc01").size() >= 2; }));
        write_file("reload.fleet", "bmc02 discoveryOpenBMC\n");
        kill(pid, SIGHUP);
        const auto runs = run_lines(trapper, "bmc01").size();
        ASSERT_TRUE(eventually([&] { return run_lines(trapper, "bmc01").size() >= runs + 2; }));
        write_file("reload.fleet", line_for("bmc02", *second));
        kill(pid, SIGHUP);
        ASSERT_TRUE(eventually([&] { return run_lines(trapper, "bmc02").size() >= 2; }));
        first_runs_at_removal = run_lines(trapper, "bmc01").size();
        std::this_thread::sleep_for(milliseconds(2500));
    });
    expect_clean_stop(run);
    EXPECT_LE(run_lines(trapper, "bmc01").size(), first_runs_at_removal + 1);
    EXPECT_NE(run.err.find("reload refused, the list before stays: InvalidSetting: " + file.string() + ":1: 2 fields"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("reloaded " + file.string() + ": 1 BMCs (1 added, 1 removed, 0 changed)"),
              std::string::npos)
        << run.err;
    for (const auto& line : run_lines(trapper, "bmc02")) EXPECT_EQ(line, "OK");
}

// Each failing BMC's bmcProbeRun holds, every run, what a one-shot run of it
// ends with; the healthy one's values go on, in the same sender requests.
TEST(Fleet, FailingBmcNamesWhyWhileTheOthersGoOn) {
    auto healthy = kit::start_bmc();
    auto options = kit::bmc_options();
    options.password = "another";
    auto refusing = kit::start_bmc(options);
    kit::TestTrapper trapper;
    struct Failing {
        std::string zabbix_host;
        std::string line;
        std::string run_line;  // how bmcProbeRun begins
    };
    const Failing failing[] = {
        {"refusing", line_for("refusing", *refusing), "Erro ao buscar o token de autenticação"},
        {"closed", "closed discoveryRedfish 127.0.0.1:1 monitor " + hostile::kPassword + "\n",
         "TransportError: POST https://127.0.0.1:1/redfish/v1/SessionService/Sessions: "},
        {"unreadable", "unreadable discoveryOpenBMC 127.0.0.1:1 monitor file:/nonexistent\n",
         "UnreadableFile: the password file /nonexistent: No such file or directory"},
    };
    std::string lines = line_for("good", *healthy);
    for (const auto& bmc : failing) lines += bmc.line;
    const auto run = run_fleet(write_file("failing.fleet", lines), trapper.port(), [&](pid_t) {
        ASSERT_TRUE(eventually([&] { return run_lines(trapper, "good").size() >= 3; }));
    });
    expect_clean_stop(run);
    for (const auto& bmc : failing) {
        const auto seen = run_lines(trapper, bmc.zabbix_host);
        EXPECT_GE(seen.size(), 2u) << bmc.zabbix_host;
        for (const auto& line : seen) {
            EXPECT_EQ(line.rfind(bmc.run_line, 0), 0u) << line;
            EXPECT_EQ(line.find(hostile::kPassword), std::string::npos) << line;
        }
    }
    const auto calls = trapper.calls();
    EXPECT_GE(std::count_if(calls.begin(), calls.end(), [](const kit::TrapperCall& call) {
                  return call.host == "good" && call.key == "storageHealth";
              }),
              3);
    const auto requests = trapper.requests();
    const bool shared = std::any_of(requests.begin(), requests.end(), [](const kit::TrapperRequest& request) {
        const std::string text = request.payload.dump();
        return text.find("\"host\":\"good\"") != std::string::npos &&
               text.find("\"host\":\"closed\"") != std::string::npos;
    });
    EXPECT_TRUE(shared) << "no request carries values of both hosts";
}

TEST(Fleet, StopLogsOutOfEverySessionOpen) {
    auto options = kit::bmc_options();
    options.read_delay = seconds(20);
    auto first = kit::start_bmc(options);
    auto second = kit::start_bmc(options);
    kit::TestTrapper trapper;
    const auto file = write_file("stop.fleet", line_for("bmc01", *first) + line_for("bmc02", *second));
    const auto run = run_fleet(file, trapper.port(), [&](pid_t) {
        ASSERT_TRUE(eventually([&] { return !first->last_token().empty() && !second->last_token().empty(); }));
        std::this_thread::sleep_for(milliseconds(300));  // the reads are under way
    });
    expect_clean_stop(run);
    EXPECT_NE(run.err.find("stopping on SIGTERM: 2 runs to end"), std::string::npos) << run.err;
    EXPECT_LT(run.elapsed, seconds(15));
    hostile::expect_logged_out(*first);
    hostile::expect_logged_out(*second);
    EXPECT_TRUE(run_lines(trapper, "bmc01").empty());  // a stop is not the BMC's failure
}

// While Zabbix refuses connections the values wait, at most the backlog's
// bound of them, the newest kept; once it listens they arrive.
TEST(Fleet, ZabbixDownAndBackDeliversTheValuesKept) {
    struct Case {
        std::string backlog;
        bool drops;
    };
    for (const Case& bound : {Case{"250000", false}, Case{"100", true}}) {
        SCOPED_TRACE("backlog " + bound.backlog);
        auto bmc = kit::start_bmc();
        kit::TestTrapper trapper(kit::TrapperOptions{false, std::nullopt});
        const auto file = write_file("down.fleet", line_for("bmc01", *bmc));
        std::size_t runs_while_down = 0;
        std::int64_t back_at = 0;  // the real-time second Zabbix listens from
        const auto run = run_fleet(
            file, trapper.port(),
            [&](pid_t) {
                ASSERT_TRUE(eventually([&] {
                    const auto requests = bmc->requests();
                    runs_while_down = std::count_if(requests.begin(), requests.end(), [](const auto& request) {
                        return request.method == "DELETE";
                    });
                    return runs_while_down >= 3;
                }));
                std::this_thread::sleep_for(milliseconds(300));  // the last of those runs has handed over
                back_at = std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
                std::this_thread::sleep_for(milliseconds(1100));
                trapper.start_listening();
                ASSERT_TRUE(eventually([&] { return run_lines(trapper, "bmc01").size() > runs_while_down; }));
            },
            {{"BMC_PROBE_FLEET_BACKLOG", bound.backlog}});
        expect_clean_stop(run);
        EXPECT_NE(run.err.find("Zabbix cannot be reached"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Zabbix can be reached again"), std::string::npos) << run.err;
        const auto calls = trapper.calls();
        const auto kept = std::count_if(calls.begin(), calls.end(), [&](const kit::TrapperCall& call) {
            return *call.clock < back_at;
        });
        const auto kept_runs = std::count_if(calls.begin(), calls.end(), [&](const kit::TrapperCall& call) {
            return *call.clock < back_at && call.key == "bmcProbeRun";
        });
        if (bound.drops) {
            EXPECT_NE(run.err.find("oldest values waiting: the backlog keeps at most 100"), std::string::npos)
                << run.err;
            EXPECT_GT(kept, 0);
            EXPECT_LE(kept, 100);
        } else {
            EXPECT_EQ(run.err.find("oldest values"), std::string::npos) << run.err;
            EXPECT_GE(kept_runs, static_cast<std::ptrdiff_t>(runs_while_down));
        }
        for (const auto& line : run_lines(trapper, "bmc01")) EXPECT_EQ(line, "OK");
        std::set<std::int64_t> moments;  // each value once
        for (const auto& call : calls) EXPECT_TRUE(moments.insert(*call.clock * 1'000'000'000 + call.ns).second);
    }
}

}  // namespace
