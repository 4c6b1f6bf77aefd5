// A fleet of simulated BMCs in one process: each port a BMC of its own (a
// token of one is refused by the other), and a stop with connections still
// open, which hands them back from the shared workers before the servers go.
#include <httplib.h>

#include <gtest/gtest.h>

#include <random>

#include "bmc-sim/fleet.h"
#include "kit/test_bmc.h"

namespace {

// Two neighbouring ports below the ephemeral range; another process may hold
// one, so a few ranges are tried.
bmc_sim::Fleet start_two(const bmc_sim::Options& each) {
    std::mt19937 random{std::random_device{}()};
    for (int attempt = 0;; ++attempt) {
        const int first = std::uniform_int_distribution(20000, 32000)(random);
        try {
            return bmc_sim::start_fleet(each, {first, first + 1, 8, nullptr});
        } catch (const std::runtime_error&) {
            if (attempt == 5) throw;
        }
    }
}

std::unique_ptr<httplib::SSLClient> client_of(const bmc_sim::TestBmc& bmc) {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", bmc.port());
    client->enable_server_certificate_verification(false);
    client->set_keep_alive(true);
    return client;
}

TEST(SimulatedFleet, EachPortIsABmcOfItsOwnAndStopsWithConnectionsOpen) {
    bmc_sim::Fleet fleet = start_two(kit::bmc_options());
    ASSERT_EQ(fleet.size(), 2u);
    auto first = client_of(*fleet[0]), second = client_of(*fleet[1]);
    const auto login = first->Post("/redfish/v1/SessionService/Sessions", R"({"UserName": "monitor", "Password": "x"})",
                                   "application/json");
    ASSERT_TRUE(login);
    ASSERT_EQ(login->status, 201);
    const httplib::Headers token{{"X-Auth-Token", login->get_header_value("X-Auth-Token")}};
    const auto own = first->Get("/redfish/v1/Chassis/chassis/Power", token);
    const auto other = second->Get("/redfish/v1/Chassis/chassis/Power", token);
    ASSERT_TRUE(own && other);
    EXPECT_EQ(own->status, 200);
    EXPECT_EQ(other->status, 401);
    bmc_sim::stop_fleet(fleet);  // both clients' connections still open
    const bmc_sim::Counts counts = bmc_sim::fleet_counts(fleet);
    EXPECT_EQ(counts.logins, 1);
    EXPECT_EQ(counts.open_sessions, 1);
    EXPECT_EQ(counts.requests, 3u);
    EXPECT_EQ(fleet[1]->counts().logins, 0);
}

}  // namespace
