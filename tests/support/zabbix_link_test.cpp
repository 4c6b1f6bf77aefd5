#include "support/zabbix_link.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

#include "kit/run_binary.h"
#include "kit/test_trapper.h"
#include "support/failure.h"
#include "support/runtime_limiter.h"

namespace {

using namespace std::chrono_literals;
using kit::TestTrapper;
using kit::TrapperAnswer;
using support::Json;

const char* const psk_identity = "probe-psk";
const char* const psk_key = "1f87b595725ac58dd977beef14b97461a7c1045b9a1c963065002c5473194952";

std::string reference_frame() {
    const std::string payload =
        R"({"request":"sender data","data":[{"host":"e2e-host","key":"powerControlHealth","value":"OK"}]})";
    return std::string("ZBXD\x01\x5e\0\0\0\0\0\0\0", 13) + payload;
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

// One value over a link of its own, as the first value of a run goes.
support::SendResult send_once(const support::ZabbixServer& server, const std::string& host, const std::string& key,
                              const Json& value) {
    support::ZabbixLink link{server};
    return support::send_zabbix(link, host, key, value);
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

TEST(ZabbixLink, WritesTheReferenceFrameByteForByte) {
    TestTrapper trapper;
    const auto result = send_once(trapper.server(), "e2e-host", "powerControlHealth", "OK");
    EXPECT_TRUE(result.accepted);
    EXPECT_NE(result.info.find("processed: 1; failed: 0"), std::string::npos);
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].frame.size(), 107u);
    EXPECT_EQ(calls[0].frame, reference_frame());
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
    for (const auto& [value, text] : cases) send_once(trapper.server(), "host °", "key[°]", value);
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(calls[i].value, cases[i].second) << i;
        EXPECT_TRUE(calls[i].request["data"][0]["value"].is_string()) << i;
        EXPECT_EQ(calls[i].host, "host °");
        EXPECT_EQ(calls[i].key, "key[°]");
    }
}

TEST(ZabbixLink, ReadsAReplyThatArrivesInPieces) {
    TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::SplitSuccess);
    const auto result = send_once(trapper.server(), "h", "storageHealth", 1);
    EXPECT_TRUE(result.accepted);
    EXPECT_NE(result.info.find("processed: 1"), std::string::npos);
}

TEST(ZabbixLink, RefusalComesBackAsNotAccepted) {
    TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::Refuse);
    const auto refused = send_once(trapper.server(), "h", "storageHealth", 1);
    EXPECT_FALSE(refused.accepted);
    EXPECT_NE(refused.info.find("failed: 1"), std::string::npos);
    EXPECT_TRUE(send_once(trapper.server(), "h", "storageHealth", 1).accepted);
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
    for (const auto& [answer, reason] : cases) {
        TestTrapper trapper;
        trapper.answer_at(2, answer);
        support::ZabbixLink link{trapper.server()};
        auto guard = support::runtime_limiter(3s);
        support::run_bounded(guard, [&] {
            EXPECT_TRUE(support::send_zabbix(link, "h", "storageHealth", 1).accepted);
            const auto failure = failure_of([&] { support::send_zabbix(link, "h", "storageState", 0); });
            EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError) << reason;
            const std::string message = failure.what();
            EXPECT_NE(message.find("127.0.0.1:" + std::to_string(trapper.port())), std::string::npos) << message;
            EXPECT_NE(message.find("\"storageState\""), std::string::npos) << message;
            EXPECT_NE(message.find(reason), std::string::npos) << message;
        });
        EXPECT_EQ(trapper.calls().size(), 2u);
    }
}

TEST(ZabbixLink, AServerThatNeverAnswersEndsInTheRunTimeout) {
    TestTrapper trapper;
    trapper.answer_at(1, TrapperAnswer::Silent);
    auto guard = support::runtime_limiter(300ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(support::run_bounded(guard, [&] { send_once(trapper.server(), "h", "k", 1); }),
                 support::TimeoutException);
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
    support::ZabbixLink link{{{{"localhost", trapper.port()}}, std::nullopt}};
    for (int value = 0; value < 3; ++value)
        EXPECT_TRUE(support::send_zabbix(link, "h", "storageHealth", value).accepted);
    EXPECT_EQ(link.resolved.size(), 1u);
    const auto calls = trapper.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].value, "2");
}

TEST(ZabbixLink, ClusterNodesAreTriedInOrderAndTheAnsweringOneIsKept) {
    TestTrapper standby(not_listening());
    TestTrapper active;
    support::ZabbixLink cluster{{{standby.endpoint(), active.endpoint()}, std::nullopt}};
    EXPECT_TRUE(support::send_zabbix(cluster, "h", "storageHealth", 1).accepted);
    standby.start_listening();
    EXPECT_TRUE(support::send_zabbix(cluster, "h", "storageState", 1).accepted);
    EXPECT_EQ(active.keys(), (std::vector<std::string>{"storageHealth", "storageState"}));
    EXPECT_EQ(standby.connections(), 0);

    const support::ZabbixServer standby_alone{{standby.endpoint()}, std::nullopt};
    EXPECT_TRUE(send_once(standby_alone, "h", "peakPower", 1).accepted);
    EXPECT_EQ(standby.keys(), std::vector<std::string>{"peakPower"});
}

TEST(ZabbixLink, ClusterWithNoNodeListeningNamesEveryNode) {
    TestTrapper first(not_listening());
    TestTrapper second(not_listening());
    const support::ZabbixServer cluster{{first.endpoint(), second.endpoint()}, std::nullopt};
    const std::string message = failure_of([&] { send_once(cluster, "h", "k", 1); }).what();
    EXPECT_NE(message.find(std::to_string(first.port()) + ": Connection refused; 127.0.0.1:" +
                           std::to_string(second.port()) + ": Connection refused"),
              std::string::npos)
        << message;
}

TEST(ZabbixLink, PskConnectionsOverTls13AndTls12) {
    for (const int version : {0, TLS1_2_VERSION}) {
        TestTrapper trapper(with_psk(version));
        auto guard = support::runtime_limiter(5s);
        support::run_bounded(guard, [&] {
            const auto result = send_once(trapper.server(), "e2e-host", "powerControlHealth", "OK");
            EXPECT_TRUE(result.accepted);
        });
        const auto calls = trapper.calls();
        ASSERT_EQ(calls.size(), 1u) << version;
        EXPECT_EQ(calls[0].frame, reference_frame());
    }
}

TEST(ZabbixLink, WrongPskOrNoTlsOnTheServerFailsTheHandshake) {
    TestTrapper trapper(with_psk(0));
    TestTrapper plain;
    const std::string other_key = "00112233445566778899aabbccddeeff";
    const std::vector<support::ZabbixServer> servers = {
        {{trapper.endpoint()}, support::ZabbixPsk{psk_identity, other_key}},
        {{trapper.endpoint()}, support::ZabbixPsk{"someone-else", psk_key}},
        {{plain.endpoint()}, support::ZabbixPsk{psk_identity, psk_key}},
    };
    for (const auto& server : servers) {
        auto guard = support::runtime_limiter(5s);
        support::run_bounded(guard, [&] {
            const auto failure = failure_of([&] { send_once(server, "h", "storageHealth", 1); });
            const std::string message = failure.what();
            EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError) << message;
            EXPECT_NE(message.find("TLS handshake"), std::string::npos) << message;
            EXPECT_EQ(message.find(server.psk->key_hex), std::string::npos) << message;
        });
    }
    EXPECT_TRUE(trapper.calls().empty());
    EXPECT_TRUE(plain.calls().empty());
}

// Zabbix's own zabbix_sender, where installed, writes the same request and
// gets through the trapper's PSK listener: the trapper speaks Zabbix's protocol.
TEST(ZabbixLink, SameBytesAsZabbixSenderItself) {
    const std::string zabbix_sender = "/usr/bin/zabbix_sender";
    if (!std::filesystem::exists(zabbix_sender)) GTEST_SKIP() << "zabbix_sender is not installed";
    TestTrapper plain;
    const auto plain_run = kit::run_program({"-z", "127.0.0.1", "-p", std::to_string(plain.port()), "-s", "e2e-host",
                                             "-k", "powerControlHealth", "-o", "OK"},
                                            sender_options(zabbix_sender));
    EXPECT_EQ(plain_run.status, 0) << plain_run.out << plain_run.err;
    ASSERT_EQ(plain.calls().size(), 1u);
    EXPECT_EQ(plain.calls()[0].frame, reference_frame());

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
