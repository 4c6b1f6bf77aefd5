// The real binary delivering to a Zabbix server that fails: the delivery
// stops at the failing request with status 1 and an error naming the server
// and the request's keys, what went out before stays delivered, nothing after
// it goes out, and the BMC session was already closed.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <thread>

#include "hostile_support.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"

namespace {

using kit::TrapperAnswer;

// The realistic machine's delivery: 23 fixed items and documents, then 126 per-row values.
constexpr std::size_t kFirstRequest = 23;
constexpr std::size_t kAllValues = 149;

struct Fault {
    TrapperAnswer answer;
    const char* why;
};

TEST(FaultyZabbix, BrokenReplyStopsTheDeliveryAtThatRequest) {
    const Fault faults[] = {
        {TrapperAnswer::Close, "closed the connection without a reply"},
        {TrapperAnswer::WrongFrame, "not a Zabbix frame"},
        {TrapperAnswer::HugeLength, "a reply may have"},
        {TrapperAnswer::ResponseFailed, "the server answered \"failed\""},
        {TrapperAnswer::HalfThenClose, "connection dropped after"},
    };
    for (const auto& fault : faults) {
        for (const int failing : {1, 2}) {
            SCOPED_TRACE(std::string(fault.why) + ", request " + std::to_string(failing));
            auto bmc = kit::start_bmc();
            kit::TestTrapper trapper;
            trapper.answer_at(failing, fault.answer);
            const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port());
            const auto requests = trapper.requests();
            ASSERT_EQ(requests.size(), static_cast<std::size_t>(failing))  // nothing after the failing request
                << "status " << run.status << " after " << run.elapsed.count() << " ms\n"
                << run.out << run.err << hostile::request_log(*bmc);
            const auto& keys = requests.back().keys;
            hostile::expect_error_line(run, "ZabbixError",
                                       "Zabbix server 127.0.0.1:" + std::to_string(trapper.port()) + ", " +
                                           std::to_string(keys.size()) + " values from key \"" + keys.front() +
                                           "\" to \"" + keys.back() + "\": ");
            EXPECT_NE(run.err.find(fault.why), std::string::npos) << run.err;
            EXPECT_EQ(trapper.calls().size(), failing == 1 ? kFirstRequest : kAllValues);
            EXPECT_EQ(requests.front().keys.front(), "storageHealth");
            EXPECT_EQ(run.out.find("OK\n"), std::string::npos) << run.out;
            hostile::expect_logged_out(*bmc);
        }
    }
}

// Zabbix's text goes into the error line escaped: a newline in it cannot add
// an "OK" line, which the template's trigger would read as a good run.
TEST(FaultyZabbix, TextOfTheReplyStaysOnTheErrorLine) {
    struct Hostile {
        std::string payload;
        const char* kind;
        const char* shown;  // how the error line shows Zabbix's text
    };
    const Hostile replies[] = {
        {R"({"response":"success","info":"processed: 0; failed: 1\nOK"})", "ZabbixRefused",
         "(Zabbix: \"processed: 0; failed: 1\\nOK\")"},
        {R"({"response":"fail\u001b[32m\r\nOK","info":"processed: 0; failed: 1\nOK"})", "ZabbixError",
         "answered \"fail\\x1b[32m\\r\\nOK\": processed: 0; failed: 1\\nOK"},
        {"not json\nOK\n", "ZabbixError", "not a JSON object: not json\\nOK\\n"},
    };
    for (const auto& reply : replies) {
        SCOPED_TRACE(reply.payload);
        auto bmc = kit::start_bmc();
        kit::TestTrapper trapper;
        trapper.reply_at(1, reply.payload);
        const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port());
        hostile::expect_error_line(run, reply.kind, reply.shown);
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // one line, ended
        for (const std::string& output : {run.out, run.err}) {
            std::istringstream lines(output);
            for (std::string line; std::getline(lines, line);) EXPECT_NE(line, "OK") << output;
        }
    }
}

TEST(FaultyZabbix, RefusedConnectionFailsNamingTheServer) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper(kit::TrapperOptions{false, std::nullopt});
    const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port());
    hostile::expect_error_line(run, "ZabbixError",
                               "Zabbix server 127.0.0.1:" + std::to_string(trapper.port()) +
                                   ", 23 values from key \"storageHealth\" to \"peakPowerState\": cannot connect");
    EXPECT_TRUE(trapper.calls().empty());
    hostile::expect_logged_out(*bmc);
}

TEST(FaultyZabbix, SilentServerIsCutOffAtTheRunTimeBound) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::Silent);
    const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port(), true);
    hostile::expect_timeout(run);
    EXPECT_EQ(trapper.requests().size(), 1u);
    EXPECT_EQ(trapper.calls().size(), kFirstRequest);
    hostile::expect_logged_out(*bmc);
    // Logged out before the delivery: the bound hit then asks for no second logout.
    EXPECT_EQ(run.out.find("Falha ao encerrar"), std::string::npos) << run.out;
    const auto requests = bmc->requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.method == "DELETE"; }), 1)
        << hostile::request_log(*bmc);
}

// SIGTERM while a silent server keeps the first request unanswered: the wait
// ends at once, with the stop named and the session already closed.
TEST(FaultyZabbix, SigtermEndsTheWaitForASilentServer) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::Silent);
    kit::RunOptions options;
    options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(trapper.port());
    options.kill_after = std::chrono::seconds(30);
    options.while_running = [&](pid_t pid) {
        for (int tick = 0; tick < 400 && trapper.requests().empty(); ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        kill(pid, SIGTERM);
    };
    const auto run =
        kit::run_program({"discoveryOpenBMC", "bmc", bmc->url_base(), "monitor", hostile::kPassword, "bmc01"}, options);
    hostile::expect_error_line(run, "Stopped", "stopped by SIGTERM");
    EXPECT_EQ(trapper.requests().size(), 1u);
    hostile::expect_logged_out(*bmc);
    EXPECT_LT(run.elapsed, std::chrono::seconds(15));
}

}  // namespace
