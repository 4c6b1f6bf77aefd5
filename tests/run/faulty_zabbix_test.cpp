// The real binary delivering to a Zabbix server that fails: the delivery
// stops at the failing call with status 1 and an error naming the server and
// the key, what went out before stays delivered, and the BMC session was
// already closed.
#include <gtest/gtest.h>

#include "hostile_support.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"

namespace {

using kit::TrapperAnswer;

constexpr int kFailingCall = 5;

struct Fault {
    TrapperAnswer answer;
    const char* why;
};

TEST(FaultyZabbix, BrokenReplyStopsTheDeliveryAtThatCall) {
    const Fault faults[] = {
        {TrapperAnswer::Close, "closed the connection without a reply"},
        {TrapperAnswer::WrongFrame, "not a Zabbix frame"},
        {TrapperAnswer::HugeLength, "a reply may have"},
        {TrapperAnswer::ResponseFailed, "the server answered \"failed\""},
        {TrapperAnswer::HalfThenClose, "connection dropped after"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.why);
        auto bmc = kit::start_bmc();
        kit::TestTrapper trapper;
        trapper.answer_at(kFailingCall, fault.answer);
        const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port());
        const auto keys = trapper.keys();
        ASSERT_EQ(keys.size(), static_cast<std::size_t>(kFailingCall))  // nothing after the failing call
            << "status " << run.status << " after " << run.elapsed.count() << " ms\n"
            << run.out << run.err << hostile::request_log(*bmc);
        hostile::expect_error_line(run, "ZabbixError",
                                   "Zabbix server 127.0.0.1:" + std::to_string(trapper.port()) + ", key \"" +
                                       keys.back() + "\": ");
        EXPECT_NE(run.err.find(fault.why), std::string::npos) << run.err;
        EXPECT_EQ(keys.front(), "storageHealth");
        EXPECT_EQ(run.out.find("OK\n"), std::string::npos) << run.out;
        hostile::expect_logged_out(*bmc);
    }
}

TEST(FaultyZabbix, RefusedConnectionFailsAtTheFirstKey) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper(kit::TrapperOptions{false, std::nullopt});
    const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port());
    hostile::expect_error_line(run, "ZabbixError",
                               "Zabbix server 127.0.0.1:" + std::to_string(trapper.port()) +
                                   ", key \"storageHealth\": cannot connect");
    EXPECT_TRUE(trapper.calls().empty());
    hostile::expect_logged_out(*bmc);
}

TEST(FaultyZabbix, SilentServerIsCutOffAtTheRunTimeBound) {
    auto bmc = kit::start_bmc();
    kit::TestTrapper trapper;
    trapper.answer_at(kFailingCall, TrapperAnswer::Silent);
    const auto run = hostile::run_probe(bmc->url_base(), "bmc01", trapper.port(), true);
    hostile::expect_timeout(run);
    EXPECT_EQ(trapper.calls().size(), static_cast<std::size_t>(kFailingCall));
    hostile::expect_logged_out(*bmc);
    // Logged out before the delivery: the bound hit then asks for no second logout.
    EXPECT_EQ(run.out.find("Falha ao encerrar"), std::string::npos) << run.out;
    const auto requests = bmc->requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.method == "DELETE"; }), 1)
        << hostile::request_log(*bmc);
}

}  // namespace
