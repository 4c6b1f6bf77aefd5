// The simulated BMC serving captured Redfish trees: every document of a
// capture byte for byte at its URL, the session protocol at the collection
// the service root links (the root itself open to anyone), $expand where the
// root announces it, 404 for what a capture does not hold, the delay and
// several connections at once.
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "kit/test_bmc.h"
#include "support/json.h"

namespace {

using namespace std::chrono_literals;

const char* const kMockups[] = {"dmtf-public-rackmount1", "dell-idrac9-poweredge-r750", "hpe-ilo5-dl385-gen10plus-v2",
                                "lenovo-xcc-sr670-v2", "nvidia-gb200-openbmc"};

std::filesystem::path mockup_dir(const std::string& name) { return kit::testdata_dir("redfish-mockups/" + name); }
std::filesystem::path current_tree_dir() { return kit::testdata_dir("openbmc/current_tree"); }

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<bmc_sim::TestBmc> serve(const std::filesystem::path& where, std::chrono::milliseconds delay = 0ms) {
    bmc_sim::Options options;
    options.scenario = bmc_sim::load_scenario(where);
    options.delay = delay;
    return kit::start_bmc(std::move(options));
}

std::unique_ptr<httplib::SSLClient> client_of(const bmc_sim::TestBmc& bmc) {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", bmc.port());
    client->enable_server_certificate_verification(false);
    client->set_keep_alive(true);
    client->set_read_timeout(60, 0);
    return client;
}

struct Login {
    std::string token;
    std::string location;
};

Login log_in(httplib::SSLClient& client, const std::string& sessions_path) {
    const auto answer = client.Post(sessions_path, R"({"UserName": "monitor", "Password": "x"})", "application/json");
    if (!answer || answer->status != 201) return {};
    return {answer->get_header_value("X-Auth-Token"), answer->get_header_value("Location")};
}

httplib::Result get(httplib::SSLClient& client, const std::string& target, const std::string& token) {
    return client.Get(target, httplib::Headers{{"X-Auth-Token", token}});
}

// URL -> file of a capture made with the mockup creator.
std::map<std::string, std::filesystem::path> capture_files(const std::filesystem::path& dir) {
    std::map<std::string, std::filesystem::path> files;
    const auto root = dir / "redfish" / "v1";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().filename() != "index.json") continue;
        const std::string rest = std::filesystem::relative(entry.path().parent_path(), root).generic_string();
        files["/redfish/v1" + (rest == "." ? "" : "/" + rest)] = entry.path();
    }
    return files;
}

TEST(SimulatedCapture, EveryDocumentOfEachCaptureIsServedByteForByteInsideASession) {
    for (const std::string name : kMockups) {
        SCOPED_TRACE(name);
        auto bmc = serve(mockup_dir(name));
        auto client = client_of(*bmc);
        const auto files = capture_files(mockup_dir(name));
        const auto root = support::Json::parse(file_bytes(files.at("/redfish/v1")));
        const std::string sessions = root["Links"]["Sessions"]["@odata.id"];
        const Login login = log_in(*client, sessions);
        ASSERT_FALSE(login.token.empty());
        EXPECT_EQ(login.location.rfind(sessions + "/", 0), 0u) << login.location;
        for (const auto& [url, file] : files) {
            const auto answer = get(*client, url, login.token);
            ASSERT_TRUE(answer) << url;
            EXPECT_EQ(answer->status, 200) << url;
            EXPECT_EQ(answer->body, file_bytes(file)) << url;
        }
        const auto anonymous_root = client->Get("/redfish/v1");
        ASSERT_TRUE(anonymous_root);
        EXPECT_EQ(anonymous_root->status, 200);
        const auto anonymous = client->Get("/redfish/v1/Chassis");
        ASSERT_TRUE(anonymous);
        EXPECT_EQ(anonymous->status, 401);
        const auto stale = get(*client, "/redfish/v1/Chassis", login.token + "x");
        ASSERT_TRUE(stale);
        EXPECT_EQ(stale->status, 401);
        const auto logout = client->Delete(login.location, httplib::Headers{{"X-Auth-Token", login.token}});
        ASSERT_TRUE(logout);
        EXPECT_EQ(logout->status, 200);
        const auto after = get(*client, "/redfish/v1/Chassis", login.token);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->status, 401);
    }
}

TEST(SimulatedCapture, AnIndexGivesEachUrlItsFileAndStatusWithAndWithoutExpand) {
    for (const std::string index : {"index.json", "index_query_enabled.json"}) {
        SCOPED_TRACE(index);
        auto bmc = serve(current_tree_dir() / index);
        auto client = client_of(*bmc);
        const Login login = log_in(*client, "/redfish/v1/SessionService/Sessions");
        ASSERT_FALSE(login.token.empty());
        const auto entries = support::Json::parse(file_bytes(current_tree_dir() / index));
        std::size_t expand_urls = 0;
        for (const auto& [url, entry] : entries.items()) {
            expand_urls += url.find("$expand") != std::string::npos;
            const auto answer = get(*client, url, login.token);
            ASSERT_TRUE(answer) << url;
            EXPECT_EQ(answer->status, entry["status"].get<int>()) << url;
            EXPECT_EQ(answer->body, file_bytes(current_tree_dir() / entry["file"].get<std::string>())) << url;
        }
        EXPECT_EQ(expand_urls, 12u);
    }
    // The folder stands for its default index.
    const auto from_folder = bmc_sim::load_scenario(current_tree_dir());
    const auto from_index = bmc_sim::load_scenario(current_tree_dir() / "index.json");
    EXPECT_EQ(from_folder.tree.size(), from_index.tree.size());
}

TEST(SimulatedCapture, ExpandOfACollectionOneLevelOnlyInTheFormsTheRootAnnounces) {
    {
        auto bmc = serve(mockup_dir("nvidia-gb200-openbmc"));
        auto client = client_of(*bmc);
        const Login login = log_in(*client, "/redfish/v1/SessionService/Sessions");
        const auto files = capture_files(mockup_dir("nvidia-gb200-openbmc"));
        for (const std::string query : {"?$expand=.($levels=1)", "?$expand=*", "?%24expand=.(%24levels%3D1)"}) {
            SCOPED_TRACE(query);
            const auto answer = get(*client, "/redfish/v1/Chassis" + query, login.token);
            ASSERT_TRUE(answer);
            ASSERT_EQ(answer->status, 200);
            const auto members = support::Json::parse(answer->body)["Members"];
            ASSERT_EQ(members.size(), 42u);
            for (const auto& member : members)
                EXPECT_EQ(member, support::Json::parse(file_bytes(files.at(member["@odata.id"]))));
        }
        // "~" expands Links only, which a collection's members are not.
        const auto links = get(*client, "/redfish/v1/Chassis?$expand=~", login.token);
        ASSERT_TRUE(links);
        EXPECT_EQ(support::Json::parse(links->body), support::Json::parse(file_bytes(files.at("/redfish/v1/Chassis"))));
    }
    {
        // iLO 5 announces "." with levels, not "*".
        auto bmc = serve(mockup_dir("hpe-ilo5-dl385-gen10plus-v2"));
        auto client = client_of(*bmc);
        const Login login = log_in(*client, "/redfish/v1/SessionService/Sessions");
        const auto refused = get(*client, "/redfish/v1/Systems/1/Storage?$expand=*", login.token);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 501);
        EXPECT_NE(refused->body.find("QueryNotSupported"), std::string::npos);
        const auto served = get(*client, "/redfish/v1/Systems/1/Storage?$expand=.($levels=1)", login.token);
        ASSERT_TRUE(served);
        EXPECT_EQ(served->status, 200);
        const auto members = support::Json::parse(served->body)["Members"];
        ASSERT_EQ(members.size(), 17u);
        EXPECT_EQ(members[14]["Status"]["Health"], "Critical");
    }
    {
        // A default bmcweb build announces no $expand: forms its index does not list are refused too.
        auto bmc = serve(current_tree_dir());
        auto client = client_of(*bmc);
        const Login login = log_in(*client, "/redfish/v1/SessionService/Sessions");
        const auto refused = get(*client, "/redfish/v1/Chassis/chassis/Sensors?$expand=~", login.token);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 501);
    }
}

TEST(SimulatedCapture, WhatTheCaptureDoesNotHoldIs404AndATrailingSlashIsTheSameResource) {
    auto bmc = serve(mockup_dir("dell-idrac9-poweredge-r750"));
    auto client = client_of(*bmc);
    const Login login = log_in(*client, "/redfish/v1/SessionService/Sessions");
    const auto missing = get(*client, "/redfish/v1/UpdateService", login.token);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_NE(missing->body.find("ResourceNotFound"), std::string::npos);
    const auto slashed = get(*client, "/redfish/v1/Chassis/", login.token);
    ASSERT_TRUE(slashed);
    EXPECT_EQ(slashed->status, 200);
    EXPECT_EQ(slashed->body, file_bytes(mockup_dir("dell-idrac9-poweredge-r750") / "redfish/v1/Chassis/index.json"));
}

TEST(SimulatedCapture, EveryAnswerWaitsTheDelayAndSeveralConnectionsAreAnsweredAtOnce) {
    auto bmc = serve(mockup_dir("dmtf-public-rackmount1"), 150ms);
    auto first = client_of(*bmc);
    const auto started = std::chrono::steady_clock::now();
    const Login login = log_in(*first, "/redfish/v1/SessionService/Sessions");
    ASSERT_FALSE(login.token.empty());
    const auto answer = get(*first, "/redfish/v1/Chassis", login.token);
    ASSERT_TRUE(answer);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);

    // One answer held back for a minute does not hold back an answer on another connection.
    bmc->script("GET", "/redfish/v1/Systems", bmc_sim::reply(200, {}, "{}"));
    auto held = bmc_sim::reply(200, {}, "{}");
    held.delay = 60s;
    bmc->script("GET", "/redfish/v1/Chassis/1U", held);
    auto waiting = std::async(std::launch::async, [&] { return get(*first, "/redfish/v1/Chassis/1U", login.token); });
    while (bmc->requests().back().path != "/redfish/v1/Chassis/1U") std::this_thread::sleep_for(5ms);
    auto second = client_of(*bmc);
    const auto other = get(*second, "/redfish/v1/Systems", login.token);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    EXPECT_EQ(waiting.wait_for(0s), std::future_status::timeout);
    bmc->stop();  // ends the held answer's wait
    waiting.get();
}

}  // namespace
