#include "zabbix/link.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

#include "kit/run_binary.h"
#include "kit/sender_frame.h"
#include "kit/test_trapper.h"
#include "support/failure.h"
#include "support/run_guard.h"

namespace {

using namespace std::chrono_literals;
using kit::TestTrapper;
using kit::TrapperAnswer;
using support::Json;

const char* const psk_identity = "probe-psk";
const char* const psk_key = "1f87b595725ac58dd977beef14b97461a7c1045b9a1c963065002c5473194952";

// What zabbix_sender -T -N sends for one value (its own clock and ns), with
// the request's clock and ns after the data.
std::string reference_frame(const kit::TrapperCall& value, const support::Json& payload) {
    const std::string body = R"({"request":"sender data","data":[{"host":"e2e-host","key":"powerControlHealth",)"
                             R"("value":"OK","clock":)" +
                             std::to_string(*value.clock) + R"(,"ns":)" + std::to_string(value.ns) + R"(}],"clock":)" +
                             payload["clock"].dump() + R"(,"ns":)" + payload["ns"].dump() + "}";
    return kit::frame(body);
}

kit::TrapperOptions not_listening() {
    kit::TrapperOptions options;
    options.listening = false;
    return options;
}

kit::TrapperOptions with_psk(int max_tls_version) {
    kit::TrapperOptions options;
    options.psk = kit::TrapperPsk{psk_identity, psk_key, max_tls_version};
    return options;
}

kit::RunOptions sender_options(const std::string& program) {
    kit::RunOptions options;
    options.program = program;
    options.kill_after = 10s;
    return options;
}

// Gathers one value and sends it in a request of its own.
zabbix::SendResult send_now(zabbix::ZabbixLink& link, const std::string& host, const std::string& key,
                             const Json& value) {
    zabbix::send_zabbix(link, host, key, value);
    const auto answers = zabbix::send_gathered(link);
    EXPECT_EQ(answers.size(), 1u);
    return answers.at(0).result;
}

// One value over a link of its own, as the first value of a run goes.
zabbix::SendResult send_once(const zabbix::ZabbixServer& server, const std::string& host, const std::string& key,
                              const Json& value, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    auto guard = support::run_guard(limit);
    zabbix::ZabbixLink link{server, &guard};
    return send_now(link, host, key, value);
}

std::int64_t seconds_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The failure send_zabbix raises, or an empty one when it returned.
support::Failure failure_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const support::Failure& failure) {
        return failure;
    }
    return support::Failure(support::FailureKind::Error, "(no failure: the call returned)");
}

TEST(ZabbixLink, WritesZabbixSendersFrameWithTheValuesMoment) {
    TestTrapper trapper;
    const std::int64_t before = seconds_now();
    const auto result = send_once(trapper.server(), "e2e-host", "powerControlHealth", "OK");
    EXPECT_EQ(result.failed, 0u);
    EXPECT_NE(result.info.find("processed: 1; failed: 0"), std::string::npos);
    const auto calls = trapper.calls();
    const auto requests = trapper.requests();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_TRUE(calls[0].clock);
    EXPECT_GE(*calls[0].clock, before);
    EXPECT_LE(*calls[0].clock, seconds_now());
    EXPECT_EQ(requests[0].frame, reference_frame(calls[0], requests[0].payload));
    // The request is stamped when it goes out, after the value was gathered.
    EXPECT_LE(std::pair(*calls[0].clock, calls[0].ns), std::pair(requests[0].payload["clock"].get<std::int64_t>(),
                                                                 requests[0].payload["ns"].get<std::int64_t>()));
}

TEST(ZabbixLink, SendsEveryKindAsTheTextAPersonReadsInDebug) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<Json, std::string>> cases = {
        {"OK", "OK"},
        {"N/A", "N/A"},
        {"12 °C \"x\"", "12 °C \"x\""},
        {1, "1"},
        {-250, "-250"},
        {12.0, "12.0"},
        {12.5, "12.5"},
        {1e16, "1e+16"},
        {true, "True"},
        {false, "False"},
        {nullptr, "None"},
        {std::nan(""), "nan"},
        {inf, "inf"},
        {-inf, "-inf"},
        {Json::parse(R"([1, "a", {"b": 2.0}])"), R"([1, "a", {"b": 2.0}])"},
        {R"({"data": []})", R"({"data": []})"},
    };
    TestTrapper trapper;
    auto link_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink link{trapper.server(), &link_guard};
    for (const auto& [value, text] : cases) zabbix::send_zabbix(link, "host °", "key[°]", value);
    EXPECT_TRUE(trapper.calls().empty());  // gathered, not sent yet
    ASSERT_EQ(zabbix::send_gathered(link).size(), 1u);
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(calls[i].value, cases[i].second) << i;
        EXPECT_TRUE(calls[i].item["value"].is_string()) << i;
        EXPECT_EQ(calls[i].host, "host °");
        EXPECT_EQ(calls[i].key, "key[°]");
        EXPECT_EQ(calls[i].request, 1);
    }
}

// Values whose refusal counts and values Zabbix may refuse travel apart, each
// kind in call order; every value has its own moment, later than the one before.
TEST(ZabbixLink, GathersEachKindInCallOrderAndSendsInOrderOfTheFirstValue) {
    TestTrapper trapper;
    trapper.refuse_keys([](const std::string& key) { return key == "row[b]" || key == "fixed2"; });
    auto link_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink link{trapper.server(), &link_guard};
    const std::vector<std::pair<std::string, zabbix::Refusal>> sent = {
        {"fixed1", zabbix::Refusal::Counts}, {"doc", zabbix::Refusal::Counts},
        {"row[a]", zabbix::Refusal::Expected}, {"row[b]", zabbix::Refusal::Expected},
        {"fixed2", zabbix::Refusal::Counts},
    };
    for (const auto& [key, refusal] : sent) zabbix::send_zabbix(link, "h", key, 1, refusal);
    const auto answers = zabbix::send_gathered(link);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].refusal, zabbix::Refusal::Counts);
    EXPECT_EQ(answers[0].keys, (std::vector<std::string>{"fixed1", "doc", "fixed2"}));
    EXPECT_EQ(answers[0].result.failed, 1u);
    EXPECT_EQ(answers[1].refusal, zabbix::Refusal::Expected);
    EXPECT_EQ(answers[1].keys, (std::vector<std::string>{"row[a]", "row[b]"}));
    EXPECT_EQ(answers[1].result.failed, 1u);
    const auto requests = trapper.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].keys, answers[0].keys);
    EXPECT_EQ(trapper.keys(), (std::vector<std::string>{"fixed1", "doc", "row[a]", "row[b]", "fixed2"}));
    const auto calls = trapper.calls();
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_LT(std::pair(*calls[i - 1].clock, calls[i - 1].ns), std::pair(*calls[i].clock, calls[i].ns));
    EXPECT_TRUE(zabbix::send_gathered(link).empty());  // nothing is sent twice
    EXPECT_EQ(trapper.connections(), 2);
}

TEST(ZabbixLink, AThousandValuesGoInRequestsOfAtMost250) {
    TestTrapper trapper;
    auto link_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink link{trapper.server(), &link_guard};
    zabbix::send_zabbix(link, "h", "discovery", R"({"data": []})");
    for (int i = 0; i < 1000; ++i)
        zabbix::send_zabbix(link, "h", "row[" + std::to_string(i) + "]", i, zabbix::Refusal::Expected);
    zabbix::send_zabbix(link, "h", "last", 0);
    const auto answers = zabbix::send_gathered(link);
    std::vector<std::size_t> sizes;
    for (const auto& request : trapper.requests()) sizes.push_back(request.keys.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 250, 250, 250, 250}));
    ASSERT_EQ(answers.size(), 5u);
    for (const auto& answer : answers) EXPECT_EQ(answer.result.failed, 0u);
    const auto keys = trapper.keys();
    ASSERT_EQ(keys.size(), 1002u);
    EXPECT_EQ(keys[1], "row[0]");
    EXPECT_EQ(keys[1000], "row[999]");
    EXPECT_EQ(keys[1001], "last");
}

TEST(ZabbixLink, ReadsAReplyThatArrivesInPieces) {
    TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::SplitSuccess);
    const auto result = send_once(trapper.server(), "h", "storageHealth", 1);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_NE(result.info.find("processed: 1"), std::string::npos);
}

TEST(ZabbixLink, RefusalComesBackAsNotAccepted) {
    TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::Refuse);
    const auto refused = send_once(trapper.server(), "h", "storageHealth", 1);
    EXPECT_EQ(refused.failed, 1u);
    EXPECT_NE(refused.info.find("failed: 1"), std::string::npos);
    EXPECT_EQ(send_once(trapper.server(), "h", "storageHealth", 1).failed, 0u);
}

TEST(ZabbixLink, EveryBrokenReplyIsAFailureNamingServerAndKey) {
    const std::vector<std::pair<TrapperAnswer, std::string>> cases = {
        {TrapperAnswer::Close, "closed the connection without a reply"},
        {TrapperAnswer::Garbage, "not a JSON object: <html>not json</html>"},
        {TrapperAnswer::WrongFrame, "not a Zabbix frame (it begins 48 54 54 50"},
        {TrapperAnswer::HugeLength, "announces 4294967295 bytes, more than the 65536"},
        {TrapperAnswer::ResponseFailed, "answered \"failed\": cannot process request"},
        {TrapperAnswer::HalfThenClose, "connection dropped after"},
    };
    for (const auto& [answer, bound_reason] : cases) {
        const std::string& reason = bound_reason;  // clang 14 cannot capture a structured binding
        TestTrapper trapper;
        trapper.answer_at(2, answer);
        auto link_guard = support::run_guard(std::chrono::seconds(60));
        zabbix::ZabbixLink link{trapper.server(), &link_guard};
        {
            EXPECT_EQ(send_now(link, "h", "storageHealth", 1).failed, 0u);
            const auto failure = failure_of([&] { send_now(link, "h", "storageState", 0); });
            EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError) << reason;
            const std::string message = failure.what();
            EXPECT_NE(message.find("127.0.0.1:" + std::to_string(trapper.port())), std::string::npos) << message;
            EXPECT_NE(message.find("\"storageState\""), std::string::npos) << message;
            EXPECT_NE(message.find(reason), std::string::npos) << message;
        }
        EXPECT_EQ(trapper.calls().size(), 2u);
    }
}

TEST(ZabbixLink, AServerThatNeverAnswersEndsInTheRunTimeout) {
    TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::Silent);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(send_once(trapper.server(), "h", "k", 1, 300ms), support::Interrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(ZabbixLink, AClosedPortIsAFailure) {
    TestTrapper closed(not_listening());
    const auto failure = failure_of([&] { send_once(closed.server(), "h", "storageHealth", 1); });
    EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError);
    EXPECT_NE(std::string(failure.what()).find("cannot connect (127.0.0.1:" + std::to_string(closed.port()) +
                                               ": Connection refused)"),
              std::string::npos)
        << failure.what();
}

TEST(ZabbixLink, AServerNameIsResolvedOnceAndItsAddressesServeEveryValue) {
    TestTrapper trapper;
    // "localhost" may give ::1 before 127.0.0.1, where only the trapper listens.
    auto link_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink link{{{{"localhost", trapper.port()}}, std::nullopt}, &link_guard};
    for (int value = 0; value < 3; ++value) EXPECT_EQ(send_now(link, "h", "storageHealth", value).failed, 0u);
    EXPECT_EQ(link.resolved.size(), 1u);
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].value, "2");
}

TEST(ZabbixLink, ClusterNodesAreTriedInOrderAndTheAnsweringOneIsKept) {
    TestTrapper standby(not_listening());
    TestTrapper active;
    auto cluster_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink cluster{{{standby.endpoint(), active.endpoint()}, std::nullopt}, &cluster_guard};
    EXPECT_EQ(send_now(cluster, "h", "storageHealth", 1).failed, 0u);
    standby.start_listening();
    EXPECT_EQ(send_now(cluster, "h", "storageState", 1).failed, 0u);
    EXPECT_EQ(active.keys(), (std::vector<std::string>{"storageHealth", "storageState"}));
    EXPECT_EQ(standby.connections(), 0);

    const zabbix::ZabbixServer standby_alone{{standby.endpoint()}, std::nullopt};
    EXPECT_EQ(send_once(standby_alone, "h", "peakPower", 1).failed, 0u);
    EXPECT_EQ(standby.keys(), std::vector<std::string>{"peakPower"});
}

TEST(ZabbixLink, ClusterWithNoNodeListeningNamesEveryNode) {
    TestTrapper first(not_listening());
    TestTrapper second(not_listening());
    const zabbix::ZabbixServer cluster{{first.endpoint(), second.endpoint()}, std::nullopt};
    const std::string message = failure_of([&] { send_once(cluster, "h", "k", 1); }).what();
    EXPECT_NE(message.find(std::to_string(first.port()) + ": Connection refused; 127.0.0.1:" +
                           std::to_string(second.port()) + ": Connection refused"),
              std::string::npos)
        << message;
}

// A node that fails before it has the request (no TLS, a wrong key) is passed
// over with the same request; one that drops the connection after taking it
// may have stored the values, so the request is not sent again.
TEST(ZabbixLink, ANodeIsPassedOverOnlyBeforeItHasTheRequest) {
    TestTrapper without_tls;
    TestTrapper with_tls(with_psk(0));
    auto cluster_guard = support::run_guard(std::chrono::seconds(5));
    zabbix::ZabbixLink cluster{
        {{without_tls.endpoint(), with_tls.endpoint()}, zabbix::ZabbixPsk{psk_identity, psk_key}}, &cluster_guard};
    {
        zabbix::send_zabbix(cluster, "h", "storageHealth", 1);
        zabbix::send_zabbix(cluster, "h", "storageState", 1);
        EXPECT_EQ(zabbix::send_gathered(cluster).at(0).result.failed, 0u);
    }
    EXPECT_TRUE(without_tls.calls().empty());
    EXPECT_EQ(with_tls.keys(), (std::vector<std::string>{"storageHealth", "storageState"}));

    TestTrapper dropping;
    TestTrapper standby;
    dropping.answer_at(1, TrapperAnswer::Close);
    auto pair_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink pair{{{dropping.endpoint(), standby.endpoint()}, std::nullopt}, &pair_guard};
    zabbix::send_zabbix(pair, "h", "storageHealth", 1);
    const std::string message = failure_of([&] { zabbix::send_gathered(pair); }).what();
    EXPECT_NE(message.find("Zabbix server 127.0.0.1:" + std::to_string(dropping.port()) + ", key \"storageHealth\""),
              std::string::npos)
        << message;
    EXPECT_EQ(dropping.calls().size(), 1u);
    EXPECT_EQ(standby.connections(), 0);
}

TEST(ZabbixLink, PskConnectionsOverTls13AndTls12) {
    for (const int version : {0, TLS1_2_VERSION}) {
        TestTrapper trapper(with_psk(version));
        {
            EXPECT_EQ(send_once(trapper.server(), "e2e-host", "powerControlHealth", "OK").failed, 0u);
        }
        const auto calls = trapper.calls();
        const auto requests = trapper.requests();
        ASSERT_EQ(calls.size(), 1u) << version;
        EXPECT_EQ(requests[0].frame, reference_frame(calls[0], requests[0].payload));
    }
}

TEST(ZabbixLink, WrongPskOrNoTlsOnTheServerFailsTheHandshake) {
    TestTrapper trapper(with_psk(0));
    TestTrapper plain;
    const std::string other_key = "00112233445566778899aabbccddeeff";
    const std::vector<zabbix::ZabbixServer> servers = {
        {{trapper.endpoint()}, zabbix::ZabbixPsk{psk_identity, other_key}},
        {{trapper.endpoint()}, zabbix::ZabbixPsk{"someone-else", psk_key}},
        {{plain.endpoint()}, zabbix::ZabbixPsk{psk_identity, psk_key}},
    };
    for (const auto& server : servers) {
        {
            const auto failure = failure_of([&] { send_once(server, "h", "storageHealth", 1); });
            const std::string message = failure.what();
            EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError) << message;
            EXPECT_NE(message.find("TLS handshake"), std::string::npos) << message;
            EXPECT_EQ(message.find(server.psk->key_hex), std::string::npos) << message;
        }
    }
    EXPECT_TRUE(trapper.calls().empty());
    EXPECT_TRUE(plain.calls().empty());
}

// The text of a request's payload before its own clock: the data items.
std::string data_part(const std::string& frame) {
    return frame.substr(kit::kFrameHeaderSize, frame.rfind(",\"clock\":") - kit::kFrameHeaderSize);
}

// Zabbix's own zabbix_sender, where installed, writes the same data items for
// the same values and moments (-T -N), and gets through the trapper's PSK
// listener: the trapper speaks Zabbix's protocol.
TEST(ZabbixLink, SameBytesAsZabbixSenderItself) {
    const std::string zabbix_sender = "/usr/bin/zabbix_sender";
    if (!std::filesystem::exists(zabbix_sender)) {
        // scripts/test installs it first and asks for it.
        if (std::getenv("BMC_PROBE_REQUIRE_ZABBIX_SENDER") != nullptr) FAIL() << zabbix_sender << " is missing";
        GTEST_SKIP() << "zabbix_sender is not installed";
    }
    TestTrapper plain;
    auto link_guard = support::run_guard(std::chrono::seconds(60));
    zabbix::ZabbixLink link{plain.server(), &link_guard};
    zabbix::send_zabbix(link, "e2e-host", "powerControlHealth", "OK");
    zabbix::send_zabbix(link, "e2e-host", "readingVolts[P12V]", 12.04, zabbix::Refusal::Expected);
    zabbix::send_zabbix(link, "e2e-host", "peakPower", 612.5);
    zabbix::send_gathered(link);
    const auto ours = plain.requests();
    ASSERT_EQ(ours.size(), 2u);
    const auto input = std::filesystem::temp_directory_path() / ("probe-values-" + std::to_string(getpid()));
    {
        std::ofstream lines(input);
        for (const auto& call : plain.calls())
            if (call.request == 1) lines << call.host << " " << call.key << " " << *call.clock << " " << call.ns << " "
                                         << call.value << "\n";
    }
    const auto plain_run = kit::run_program(
        {"-z", "127.0.0.1", "-p", std::to_string(plain.port()), "-T", "-N", "-i", input.string()},
        sender_options(zabbix_sender));
    std::filesystem::remove(input);
    EXPECT_EQ(plain_run.status, 0) << plain_run.out << plain_run.err;
    const auto all = plain.requests();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(data_part(all[2].frame), data_part(ours[0].frame));
    EXPECT_NE(data_part(all[2].frame).find(R"("key":"peakPower","value":"612.5","clock":)"), std::string::npos);

    TestTrapper encrypted(with_psk(0));
    const auto key_file = std::filesystem::temp_directory_path() / ("probe-psk-" + std::to_string(getpid()));
    std::ofstream(key_file) << psk_key << "\n";
    const auto psk_run = kit::run_program(
        {"-z", "127.0.0.1", "-p", std::to_string(encrypted.port()), "-s", "e2e-host", "-k", "powerControlHealth",
         "-o", "OK", "--tls-connect", "psk", "--tls-psk-identity", psk_identity, "--tls-psk-file", key_file.string()},
        sender_options(zabbix_sender));
    std::filesystem::remove(key_file);
    EXPECT_EQ(psk_run.status, 0) << psk_run.out << psk_run.err;
    ASSERT_EQ(encrypted.calls().size(), 1u);
    EXPECT_EQ(encrypted.calls()[0].key, "powerControlHealth");
}

}  // namespace
