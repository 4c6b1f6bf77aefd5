// GETs made as one batch: the answers in the order asked, never more than
// four connections on the BMC, the kept connections reused afterwards, and
// a failure of one request ending the batch as a lone request's would.
#include <gtest/gtest.h>

#include <set>

#include "kit/test_bmc.h"
#include "redfish/https.h"
#include "redfish/readers.h"
#include "redfish/session.h"
#include "support/failure.h"

namespace {

using namespace std::chrono_literals;

std::unique_ptr<bmc_sim::TestBmc> capture_bmc(std::chrono::milliseconds delay) {
    bmc_sim::Options options;
    options.scenario = bmc_sim::load_scenario(kit::testdata_dir("redfish-mockups/nvidia-gb200-openbmc"));
    options.delay = delay;
    return kit::start_bmc(std::move(options));
}

// The 42 chassis of the capture, as its collection lists them.
std::vector<std::string> chassis_paths() {
    const auto collection =
        support::Json::parse(kit::testdata_bytes("redfish-mockups/nvidia-gb200-openbmc/redfish/v1/Chassis/index.json"));
    std::vector<std::string> paths;
    for (const auto& member : collection["Members"]) paths.push_back(member["@odata.id"]);
    return paths;
}

TEST(BatchRequests, AnswersComeInTheOrderAskedOverAtMostFourConnections) {
    auto bmc = capture_bmc(30ms);
    const auto link = kit::link_for(kit::access_for(*bmc));
    auto& access = link->bmc;
    const auto session = redfish::post_authToken(access);
    ASSERT_TRUE(session.token);
    auto paths = chassis_paths();
    paths.insert(paths.begin() + 3, "/redfish/v1/Chassis/NoSuchChassis");
    const auto fetched = redfish::fetch_documents(access, paths, *session.token);
    ASSERT_EQ(fetched.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i == 3) {
            EXPECT_EQ(fetched[i].status, 404);
            EXPECT_FALSE(fetched[i].document);
            continue;
        }
        ASSERT_TRUE(fetched[i].document) << paths[i];
        EXPECT_EQ(fetched[i].document->at("@odata.id"), paths[i]);
    }
    // One more request, alone: it rides one of the connections kept.
    EXPECT_TRUE(redfish::fetch_document(access, "/redfish/v1", *session.token).document);
    std::set<int> connections;
    for (const auto& request : bmc->requests()) {
        connections.insert(request.connection);
        if (request.method == "GET") {
            EXPECT_EQ(request.header("X-Auth-Token"), session.token);
        }
    }
    EXPECT_LE(connections.size(), static_cast<std::size_t>(redfish::https::kMaxInFlight));
    EXPECT_GT(connections.size(), 1u) << "the batch went out one request after another";
    EXPECT_EQ(bmc->tls_connections(), static_cast<int>(connections.size()));
}

TEST(BatchRequests, OneBrokenAnswerEndsTheBatchNamingItsUrl) {
    auto bmc = capture_bmc(0ms);
    const auto link = kit::link_for(kit::access_for(*bmc));
    auto& access = link->bmc;
    const auto session = redfish::post_authToken(access);
    ASSERT_TRUE(session.token);
    const auto paths = chassis_paths();
    auto cut = bmc_sim::reply(200, {{"Content-Type", "application/json"}}, std::string(1000, ' '));
    cut.drop_after = 10;
    bmc->script("GET", paths[5], cut);
    try {
        redfish::fetch_documents(access, paths, *session.token);
        FAIL() << "no failure";
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.kind, support::FailureKind::TransportError);
        EXPECT_NE(std::string(failure.what()).find("GET https://" + bmc->url_base() + paths[5]), std::string::npos)
            << failure.what();
    }
    // A body that is not JSON ends it as InvalidJson, as a lone read does.
    bmc->script("GET", paths[7], bmc_sim::reply(200, {{"Content-Type", "application/json"}}, "{\"a\": "));
    bmc->script("GET", paths[5], bmc_sim::reply(404, {{"Content-Type", "application/json"}}, "{}"));
    try {
        redfish::fetch_documents(access, paths, *session.token);
        FAIL() << "no failure";
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.kind, support::FailureKind::InvalidJson);
        EXPECT_NE(std::string(failure.what()).find(paths[7]), std::string::npos) << failure.what();
    }
}

}  // namespace
