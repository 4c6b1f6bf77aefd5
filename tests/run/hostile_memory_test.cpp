// The real binary against a BMC whose answers cost much memory or CPU to
// read: the run stays within its memory budget and ends like any failure,
// wide objects parse in linear time, SIGTERM is heeded while a body is
// parsed, and no core file ever holds the password.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hostile_support.h"
#include "kit/test_bmc.h"

namespace {

using namespace std::chrono_literals;
using bmc_sim::reply;

const std::string kStorage = "/redfish/v1/Systems/system/Storage/1";

// {"n0":0,"n1":0,...}: today's library looks every name up among the earlier ones.
std::string wide_storage(int names) {
    std::string body = bmc_sim::load_scenario(kit::testdata_dir("a_healthy")).resources[0].body;
    std::string members;
    for (int i = 0; i < names; ++i) members += "\"n" + std::to_string(i) + "\":0,";
    return body.insert(1, members);
}

bool asked_for(const bmc_sim::TestBmc& bmc, const std::string& path) {
    const auto requests = bmc.requests();
    return std::any_of(requests.begin(), requests.end(), [&](const auto& request) { return request.path == path; });
}

// The probe under test shares this build's sanitizers unless BMC_PROBE_UNDER_TEST names another.
bool sanitized_probe() {
    bool sanitized = false;
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    sanitized = true;
#endif
#elif defined(__SANITIZE_ADDRESS__)
    sanitized = true;
#endif
    return sanitized && kit::probe_under_test() == BMC_PROBE_BINARY;
}

// Twelve chassis of 8 MiB each, all [{},{},...]: parsed whole, over 2 GB.
std::unique_ptr<bmc_sim::TestBmc> twelve_large_documents() {
    auto bmc = kit::start_bmc(kit::bmc_options("openbmc/current_tree"));
    std::string members, padding = "[{}";
    while (padding.size() < (8u << 20)) padding += ",{}";
    for (int i = 0; i < 12; ++i) {
        const std::string path = "/redfish/v1/Chassis/big" + std::to_string(i);
        members += std::string(i ? "," : "") + R"({"@odata.id":")" + path + "\"}";
        bmc->script("GET", path, reply(200, {}, R"({"@odata.id":")" + path + R"(","Oem":)" + padding + "]}"));
    }
    bmc->script("GET", "/redfish/v1/Chassis", reply(200, {}, R"({"Members":[)" + members + "]}"));
    return bmc;
}

std::vector<std::string> generic_run(const bmc_sim::TestBmc& bmc) {
    return {"discoveryRedfish", "bmc", bmc.url_base(), "monitor", hostile::kPassword, "debug"};
}

TEST(HostileMemory, TwelveLargeDocumentsEndTheRunWithinTheBudgetAfterTheLogout) {
    auto bmc = twelve_large_documents();
    kit::RunOptions options;
    options.env["ASAN_OPTIONS"] = "quarantine_size_mb=16:hard_rss_limit_mb=3000";
    const auto run = kit::run_program(generic_run(*bmc), options);
    hostile::expect_error_line(run, "MemoryBudget", "GET https://" + bmc->url_base() + "/redfish/v1/Chassis/big");
    EXPECT_NE(run.err.find("more than 256 MiB"), std::string::npos) << run.err;
    hostile::expect_logged_out(*bmc);
    if (sanitized_probe()) return;  // its redzones and quarantine add to every allocation, and so to the peak
    constexpr long kBudgetKiB = 256 << 10, kAllowanceKiB = 128 << 10;  // the program itself
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, kBudgetKiB + kAllowanceKiB);
}

// No core file, which would hold the password: neither when memory runs out
// (the run ends with one line after the logout) nor when a signal that dumps
// core ends the process.
TEST(HostileMemory, NoCoreFileWhenMemoryRunsOutOrAbortEndsTheRun) {
    std::ifstream pattern("/proc/sys/kernel/core_pattern");
    if (pattern.peek() == '|') GTEST_SKIP() << "cores go to a program on this machine";
    const auto dir = std::filesystem::temp_directory_path() / ("bmc-probe-core-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    rlimit before{}, unlimited{RLIM_INFINITY, RLIM_INFINITY};
    getrlimit(RLIMIT_CORE, &before);
    setrlimit(RLIMIT_CORE, &unlimited);
    kit::RunOptions options;
    options.working_dir = dir.string();
    options.env["ASAN_OPTIONS"] = "disable_coredump=0";
    if (!sanitized_probe()) {  // its allocator ends the process instead of raising std::bad_alloc
        auto bmc = twelve_large_documents();
        auto limited = options;
        limited.program = "/usr/bin/prlimit";
        auto args = generic_run(*bmc);
        args.insert(args.begin(), {"--as=" + std::to_string(200u << 20), kit::probe_under_test()});
        const auto run = kit::run_program(args, limited);
        hostile::expect_error_line(run, "OutOfMemory", "the system refused memory");
        hostile::expect_logged_out(*bmc);
    }
    auto bmc_options = kit::bmc_options();
    bmc_options.login_delay = 30s;
    auto bmc = kit::start_bmc(std::move(bmc_options));
    options.while_running = [&](pid_t pid) {
        while (bmc->requests().empty()) std::this_thread::sleep_for(5ms);
        kill(pid, SIGABRT);
    };
    const auto aborted = kit::run_program(generic_run(*bmc), options);
    setrlimit(RLIMIT_CORE, &before);
    EXPECT_EQ(aborted.status, 128 + SIGABRT);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    std::filesystem::remove_all(dir);
}

// 50,000 names, 600 kB: many seconds of CPU for a parse that looks names up one
// by one, while the bound (2 seconds here) and SIGTERM wait for it.
TEST(HostileMemory, WideObjectIsReadInsideTheBoundAndSigtermStopsTheRunAtOnce) {
    auto bmc = kit::start_bmc();
    bmc->script("GET", kStorage, reply(200, {}, wide_storage(50000)));
    const auto read = hostile::run_probe(bmc->url_base(), "debug", 1, true);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out.find(hostile::kTimeoutLine) + read.err.size(), std::string::npos) << read.out << read.err;
    hostile::expect_logged_out(*bmc);
    auto stopped_bmc = kit::start_bmc();
    stopped_bmc->script("GET", kStorage, reply(200, {}, wide_storage(50000)));
    auto hanging = reply(200, {}, "{}");
    hanging.delay = 30s;
    stopped_bmc->script("GET", "/redfish/v1/Chassis/chassis/Power", hanging);
    kit::RunOptions options;
    options.kill_after = 40s;
    std::chrono::steady_clock::duration signalled{};
    options.while_running = [&](pid_t pid) {
        const auto started = std::chrono::steady_clock::now();
        while (!asked_for(*stopped_bmc, kStorage)) std::this_thread::sleep_for(5ms);
        kill(pid, SIGTERM);
        signalled = std::chrono::steady_clock::now() - started;
    };
    const auto run = kit::run_program(
        {"discoveryOpenBMC", "bmc", stopped_bmc->url_base(), "monitor", hostile::kPassword, "debug"}, options);
    hostile::expect_error_line(run, "Stopped", "stopped by SIGTERM");
    hostile::expect_logged_out(*stopped_bmc);
    EXPECT_LT(run.elapsed - signalled, 3s);
}

}  // namespace
