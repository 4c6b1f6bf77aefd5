// Login and logout against the simulated BMC over real HTTPS.
#include "redfish/session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bmc-sim/bodies.h"
#include "kit/capture_stdout.h"
#include "kit/test_bmc.h"
#include "redfish/redfish_path.h"
#include "support/failure.h"
#include "support/json.h"
#include "support/shown_text.h"

namespace {

using bmc_sim::reply;

bmc_sim::Reply dropping_after(std::size_t bytes, bmc_sim::Reply answer) {
    answer.drop_after = bytes;
    return answer;
}

const std::string kSessions = "/redfish/v1/SessionService/Sessions";
const std::string kLoginFailed = "Falha ao obter o token de autenticação.\n";
const std::string kLoggedOut = "Sessão encerrada com sucesso.\n";

redfish::RedfishSession login(const redfish::BmcAccess& bmc_access, std::string& printed) {
    redfish::RedfishSession session;
    printed = kit::stdout_of([&] { session = redfish::post_authToken(kit::link_for(bmc_access)->bmc); });
    return session;
}

std::string logout(const redfish::BmcAccess& bmc_access, const std::string& token,
                   const std::optional<std::string>& session_uri) {
    return kit::stdout_of([&] { redfish::delete_session(kit::link_for(bmc_access)->bmc, token, session_uri); });
}

TEST(Session, LoginGoesToUrlBaseWithItsPortAndYieldsTokenAndLocation) {
    auto bmc = kit::start_bmc();
    std::string printed;
    const auto session = login(kit::access_for(*bmc), printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(session.token, bmc->last_token());
    EXPECT_EQ(session.session_uri, bmc->last_session_path());
    const auto requests = bmc->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, kSessions);
    EXPECT_EQ(requests[0].header("Host"), bmc->url_base());
}

TEST(Session, TrailingSlashInUrlBaseDoublesTheSlashOfThePath) {
    auto bmc = kit::start_bmc();
    auto bmc_access = kit::access_for(*bmc);
    bmc_access.url_base += "/";
    std::string printed;
    login(bmc_access, printed);
    logout(bmc_access, "t", kSessions + "/abc");
    const auto requests = bmc->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/" + kSessions);
    EXPECT_EQ(requests[1].target, "/" + kSessions + "/abc");
}

TEST(Session, LoginAnsweredWithAnythingButCreatedFails) {
    auto bmc = kit::start_bmc();
    for (int status : {200, 202, 204, 400, 401, 403, 500}) {
        bmc->script("POST", kSessions,
                    reply(status, {{"X-Auth-Token", "Xq3hT0bLr7Wm2KfV9sNd"}, {"Location", kSessions + "/k7GvQ2pZ0t"}},
                          "{\"Id\": \"k7GvQ2pZ0t\"}"));
        std::string printed;
        const auto session = login(kit::access_for(*bmc), printed);
        EXPECT_EQ(printed, kLoginFailed) << status;
        EXPECT_FALSE(session.token) << status;
        EXPECT_FALSE(session.session_uri) << status;
    }
}

TEST(Session, WrongCredentialsAreRefusedByTheBmc) {
    auto options = kit::bmc_options();
    options.password = "right";
    auto bmc = kit::start_bmc(std::move(options));
    std::string printed;
    const auto session = login(kit::access_for(*bmc, "monitor", "wrong"), printed);
    EXPECT_EQ(printed, kLoginFailed);
    EXPECT_FALSE(session.token);
}

TEST(Session, HeaderNamesOfTheLoginAnswerMatchInAnyLetterCase) {
    auto bmc = kit::start_bmc();
    bmc->script("POST", kSessions, reply(201, {{"x-auth-token", "abc123"}, {"LOCATION", kSessions + "/s1"}}));
    std::string printed;
    const auto session = login(kit::access_for(*bmc), printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(session.token, "abc123");
    EXPECT_EQ(session.session_uri, kSessions + "/s1");
}

TEST(Session, AMissingHeaderLeavesOnlyItsOwnMemberEmpty) {
    auto bmc = kit::start_bmc();
    bmc->script("POST", kSessions, reply(201, {{"X-Auth-Token", "only-token"}}));
    std::string printed;
    auto session = login(kit::access_for(*bmc), printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(session.token, "only-token");
    EXPECT_FALSE(session.session_uri);

    bmc->script("POST", kSessions, reply(201, {{"Location", kSessions + "/s2"}}));
    session = login(kit::access_for(*bmc), printed);
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(session.token);
    EXPECT_EQ(session.session_uri, kSessions + "/s2");
}

TEST(Session, CredentialsArriveUnchangedAsAJsonObjectOfTwoMembers) {
    const std::string user = "mon\"i\\tor ção";
    const std::string pwd = "p\"a\\\"ss\\\\w\tord\n/\x01";
    auto options = kit::bmc_options();
    options.user = user;
    options.password = pwd;
    auto bmc = kit::start_bmc(std::move(options));
    std::string printed;
    const auto session = login(kit::access_for(*bmc, user, pwd), printed);
    EXPECT_TRUE(session.token);  // the BMC compared both and accepted them
    const auto request = bmc->requests().at(0);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    const auto body = support::Json::parse(request.body);
    ASSERT_TRUE(body.is_object());
    ASSERT_EQ(body.size(), 2u);
    EXPECT_EQ(body.begin().key(), "UserName");
    EXPECT_EQ(body["UserName"], user);
    EXPECT_EQ(std::next(body.begin()).key(), "Password");
    EXPECT_EQ(body["Password"], pwd);
    EXPECT_FALSE(request.header("X-Auth-Token"));
    EXPECT_FALSE(request.header("Cookie"));
}

TEST(Session, LogoutOfTheLiveSessionSucceeds) {
    auto bmc = kit::start_bmc();
    std::string printed;
    const auto session = login(kit::access_for(*bmc), printed);
    ASSERT_TRUE(session.token && session.session_uri);
    EXPECT_EQ(logout(kit::access_for(*bmc), *session.token, session.session_uri), kLoggedOut);
    const auto deleted = bmc->requests().at(1);
    EXPECT_EQ(deleted.method, "DELETE");
    EXPECT_EQ(deleted.target, *session.session_uri);
    EXPECT_EQ(deleted.header("X-Auth-Token"), *session.token);
    EXPECT_EQ(deleted.body, "");
    // The session is gone: the same logout again is refused at authentication.
    EXPECT_EQ(logout(kit::access_for(*bmc), *session.token, session.session_uri),
              "Falha ao encerrar sessão: 401\nUnauthorized\n");
}

TEST(Session, LogoutAnsweredNoContentPrintsOnlyTheSuccessLine) {
    auto bmc = kit::start_bmc();
    bmc->script("DELETE", kSessions + "/s1", reply(204));
    EXPECT_EQ(logout(kit::access_for(*bmc), "t", kSessions + "/s1"), kLoggedOut);
}

// The body on one line, escaped and bounded as support::shown_text shows it.
TEST(Session, RefusedLogoutPrintsTheStatusAndThenTheBody) {
    auto bmc = kit::start_bmc();
    std::string printed;
    const auto session = login(kit::access_for(*bmc), printed);
    ASSERT_TRUE(session.token);
    EXPECT_EQ(logout(kit::access_for(*bmc), *session.token, kSessions + "/Zz9Zz9Zz9Z"),
              "Falha ao encerrar sessão: 404\n" +
                  support::shown_text(bmc_sim::bodies::resource_not_found("Session", "Zz9Zz9Zz9Z")) + "\n");

    bmc->script("DELETE", kSessions + "/empty", reply(500));
    EXPECT_EQ(logout(kit::access_for(*bmc), "t", kSessions + "/empty"), "Falha ao encerrar sessão: 500\n\n");
}

TEST(Session, RefusedLogoutBodyThatIsNotUtf8IsPrintedWithReplacementCharacters) {
    auto bmc = kit::start_bmc();
    bmc->script("DELETE", kSessions + "/s1", reply(500, {{"Content-Type", "text/plain"}}, "erro \xff\xfe fim \xc3"));
    EXPECT_EQ(logout(kit::access_for(*bmc), "t", kSessions + "/s1"),
              "Falha ao encerrar sessão: 500\nerro \xEF\xBF\xBD\xEF\xBF\xBD fim \xEF\xBF\xBD\n");
}

TEST(Session, LocationThatIsAFullUrlSendsOnlyItsPathToUrlBase) {
    auto bmc = kit::start_bmc();
    auto elsewhere = kit::start_bmc();
    const std::string full_url = "https://" + elsewhere->url_base() + kSessions + "/k7GvQ2pZ0t";
    bmc->script("POST", kSessions, reply(201, {{"X-Auth-Token", "Xq3hT0bLr7Wm2KfV9sNd"}, {"Location", full_url}}));
    bmc->script("DELETE", kSessions + "/k7GvQ2pZ0t", reply(200, {}, bmc_sim::bodies::success()));
    std::string printed;
    const auto session = login(kit::access_for(*bmc), printed);
    EXPECT_EQ(session.session_uri, full_url);  // handed on unchanged
    EXPECT_EQ(logout(kit::access_for(*bmc), *session.token, session.session_uri), kLoggedOut);
    const auto requests = bmc->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, kSessions + "/k7GvQ2pZ0t");
    EXPECT_EQ(requests[1].header("X-Auth-Token"), "Xq3hT0bLr7Wm2KfV9sNd");
    EXPECT_TRUE(elsewhere->requests().empty());
    EXPECT_EQ(elsewhere->tls_connections(), 0);
}

TEST(Session, PathOfALink) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/redfish/v1/SessionService/Sessions/abc", "/redfish/v1/SessionService/Sessions/abc"},
        {"https://10.0.0.9:8443/redfish/v1/SessionService/Sessions/abc", "/redfish/v1/SessionService/Sessions/abc"},
        {"HTTPS://user@bmc.example/a?b=c", "/a?b=c"},
        {"https://bmc.example", "/"},
        {"https://bmc.example?x=1", "/?x=1"},
        {"/next?to=https://elsewhere/", "/next?to=https://elsewhere/"},
    };
    for (const auto& [location, path] : cases) EXPECT_EQ(redfish::link_path(location), path) << location;
}

TEST(Session, WithoutSessionUriTheLogoutSendsAndPrintsNothing) {
    auto bmc = kit::start_bmc();
    EXPECT_EQ(logout(kit::access_for(*bmc), "t", std::nullopt), "");
    EXPECT_TRUE(bmc->requests().empty());
}

TEST(Session, LogoutWhoseConnectionFailsPrintsOneFailureLineAndReturns) {
    auto bmc = kit::start_bmc();
    bmc->script("DELETE", kSessions + "/s1", dropping_after(10, reply(200, {}, std::string(100, 'x'))));
    const auto dropped = logout(kit::access_for(*bmc), "t", kSessions + "/s1");
    EXPECT_EQ(dropped.rfind("Falha ao encerrar sessão: DELETE https://" + bmc->url_base() + kSessions + "/s1: ", 0), 0u)
        << dropped;
    EXPECT_NE(dropped.find("transfer closed with 90 bytes remaining"), std::string::npos) << dropped;
    EXPECT_EQ(std::count(dropped.begin(), dropped.end(), '\n'), 1) << dropped;

    const auto bmc_access = kit::access_for(*bmc);
    bmc->stop();
    const auto refused = logout(bmc_access, "t", kSessions + "/s1");
    EXPECT_EQ(refused.rfind("Falha ao encerrar sessão: DELETE ", 0), 0u) << refused;
    EXPECT_NE(refused.find("Couldn't connect"), std::string::npos) << refused;
    EXPECT_EQ(std::count(refused.begin(), refused.end(), '\n'), 1) << refused;
}

TEST(Session, LoginWhoseConnectionDropsEndsTheRunWithoutShowingThePassword) {
    auto bmc = kit::start_bmc();
    bmc->script("POST", kSessions, dropping_after(3, reply(201, {{"X-Auth-Token", "t"}}, std::string(100, 'x'))));
    try {
        std::string printed;
        login(kit::access_for(*bmc, "monitor", "SECRETPW"), printed);
        FAIL() << "no failure";
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.kind, support::FailureKind::TransportError);
        const std::string message = failure.what();
        EXPECT_NE(message.find("POST https://" + bmc->url_base() + kSessions), std::string::npos) << message;
        EXPECT_NE(message.find("transfer closed"), std::string::npos) << message;
        EXPECT_EQ(message.find("SECRETPW"), std::string::npos) << message;
    }
}

}  // namespace
