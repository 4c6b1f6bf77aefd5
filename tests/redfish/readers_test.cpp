// The five resource readers against the simulated BMC over real HTTPS.
#include "redfish/readers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "kit/capture_stdout.h"
#include "kit/test_bmc.h"
#include "redfish/https.h"
#include "redfish/session.h"
#include "support/failure.h"
#include "support/run_guard.h"

namespace {

using bmc_sim::reply;
using Reader = std::optional<support::Json> (*)(redfish::Bmc&, const std::string&);

const std::string kPower = "/redfish/v1/Chassis/chassis/Power";

struct ReaderCase {
    Reader read;
    std::string path;
    std::string failure_line;
};

const ReaderCase kReaders[] = {
    {redfish::get_storage, "/redfish/v1/Systems/system/Storage/1", "Falha ao obter informações de armazenamento."},
    {redfish::get_chassisPower, "/redfish/v1/Chassis/chassis/Power",
     "Falha ao obter informações de energia do chassi."},
    {redfish::get_chassisThermal, "/redfish/v1/Chassis/chassis/Thermal",
     "Falha ao obter informações térmicas do chassi."},
    {redfish::get_chassisTotalPower, "/redfish/v1/Chassis/chassis/Sensors/total_power",
     "Falha ao obter informações de energia total do chassi."},
    {redfish::get_chassisPeakPower, "/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER",
     "Falha ao obter informações de pico de energia do chassi."},
};

// The Power document a BMC answers with body, read with a live token.
std::optional<support::Json> power_with_body(bmc_sim::TestBmc& bmc, const std::string& body) {
    bmc.script("GET", kPower, reply(200, {{"Content-Type", "application/json"}}, body));
    return redfish::get_chassisPower(kit::link_for(kit::access_for(bmc))->bmc, "t");
}

support::Failure failure_of(const std::function<void()>& work) {
    try {
        work();
    } catch (const support::Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no failure";
    return support::Failure(support::FailureKind::Error, "(no failure: the call returned)");
}

TEST(Readers, EachReadsItsPathWithTheTokenAndHandsOverTheDocument) {
    auto bmc = kit::start_bmc();
    std::string token;
    kit::stdout_of([&] { token = *redfish::post_authToken(kit::link_for(kit::access_for(*bmc))->bmc).token; });
    const auto scenario = kit::bmc_options().scenario;
    for (std::size_t i = 0; i < std::size(kReaders); ++i) {
        std::optional<support::Json> document;
        EXPECT_EQ(kit::stdout_of([&] { document = kReaders[i].read(kit::link_for(kit::access_for(*bmc))->bmc, token); }), "");
        ASSERT_TRUE(document) << kReaders[i].path;
        EXPECT_EQ(*document, support::Json::parse(scenario.resources[i].body)) << kReaders[i].path;
        const auto request = bmc->requests().back();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target, kReaders[i].path);
        EXPECT_EQ(request.header("X-Auth-Token"), token);
        EXPECT_EQ(request.body, "");
    }
}

TEST(Readers, AnyStatusButOkPrintsTheReadersLineAndYieldsNoValue) {
    auto bmc = kit::start_bmc();
    for (int status : {204, 201, 404}) {
        for (const auto& reader : kReaders)
            bmc->script("GET", reader.path, reply(status, {{"Content-Type", "application/json"}}, "{\"Id\": \"1\"}"));
        std::string expected, printed;
        for (const auto& reader : kReaders) {
            printed += kit::stdout_of([&] { EXPECT_FALSE(reader.read(kit::link_for(kit::access_for(*bmc))->bmc, "t")) << status; });
            expected += reader.failure_line + "\n";
        }
        EXPECT_EQ(printed, expected) << status;
    }
}

TEST(Readers, AStaleTokenIsRefusedWithTheReadersLine) {
    auto bmc = kit::start_bmc();
    std::optional<support::Json> document;
    EXPECT_EQ(kit::stdout_of([&] { document = redfish::get_chassisThermal(kit::link_for(kit::access_for(*bmc))->bmc, "stale"); }),
              "Falha ao obter informações térmicas do chassi.\n");
    EXPECT_FALSE(document);
}

TEST(Readers, ABodyThatIsNotAnObjectIsHandedOverWhole) {
    auto bmc = kit::start_bmc();
    EXPECT_EQ(power_with_body(*bmc, "[1, 2.5, \"x\", null]"), support::Json::parse("[1, 2.5, \"x\", null]"));
    const auto number = power_with_body(*bmc, " 42 ");
    ASSERT_TRUE(number);
    EXPECT_TRUE(number->is_number_integer());
    EXPECT_EQ(*number, 42);
    const auto null = power_with_body(*bmc, "null");
    ASSERT_TRUE(null);  // a document, which holds null
    EXPECT_TRUE(null->is_null());
}

TEST(Readers, IntegersAndRealsStayApartAndIntegersStayExact) {
    auto bmc = kit::start_bmc();
    const auto document = power_with_body(
        *bmc,
        R"({"int": 250, "real": 250.0, "exp": 25E1, "negative": -0, "min": -9223372036854775808,)"
        R"( "max": 9223372036854775807, "umax": 18446744073709551615, "precise": 24.987000000000002})");
    ASSERT_TRUE(document);
    const auto& d = *document;
    EXPECT_TRUE(d["int"].is_number_integer());
    EXPECT_TRUE(d["real"].is_number_float());
    EXPECT_TRUE(d["exp"].is_number_float());
    EXPECT_TRUE(d["negative"].is_number_integer());
    EXPECT_EQ(d["min"].get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(d["max"].get<std::int64_t>(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(d["umax"].get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_TRUE(d["umax"].is_number_unsigned());
    EXPECT_EQ(d["precise"].get<double>(), 24.987000000000002);
    EXPECT_EQ(d.dump(), R"({"int":250,"real":250.0,"exp":250.0,"negative":0,"min":-9223372036854775808,)"
                        R"("max":9223372036854775807,"umax":18446744073709551615,"precise":24.987000000000002})");
}

TEST(Readers, OkAnswerThatIsNotJsonEndsTheRunNamingTheUrl) {
    auto bmc = kit::start_bmc();
    for (const std::string body : {"", "Unauthorized", "{\"a\": 1", "{\"a\": 1} trailing", "<html></html>"}) {
        const auto failure = failure_of([&] { power_with_body(*bmc, body); });
        EXPECT_EQ(failure.kind, support::FailureKind::InvalidJson) << body;
        EXPECT_NE(std::string(failure.what()).find("GET https://" + bmc->url_base() + kPower), std::string::npos)
            << failure.what();
    }
}

TEST(Readers, OkBodyWithBytesThatAreNotUtf8IsAFailureNamingTheUrl) {
    auto bmc = kit::start_bmc();
    const auto failure = failure_of([&] { power_with_body(*bmc, "{\"Name\": \"PSU \xe9\"}"); });
    EXPECT_EQ(failure.kind, support::FailureKind::InvalidJson);
    EXPECT_NE(std::string(failure.what()).find(kPower), std::string::npos) << failure.what();
}

TEST(Readers, DroppedConnectionIsATransportFailureWithCurlsReason) {
    auto bmc = kit::start_bmc();
    auto dropped = reply(200, {{"Content-Type", "application/json"}}, std::string(4000, ' ') + "{}");
    dropped.drop_after = 1000;
    bmc->script("GET", kPower, dropped);
    const auto failure = failure_of([&] { redfish::get_chassisPower(kit::link_for(kit::access_for(*bmc, "u", "SECRETPW"))->bmc, "t"); });
    EXPECT_EQ(failure.kind, support::FailureKind::TransportError);
    const std::string message = failure.what();
    EXPECT_EQ(message, "GET https://" + bmc->url_base() + kPower +
                           ": transfer closed with 3002 bytes remaining to read");
    EXPECT_EQ(message.find("SECRETPW"), std::string::npos);
}

TEST(Readers, BodyUpTo32MiBIsReceivedAndALargerOneEndsTheRun) {
    auto bmc = kit::start_bmc();
    const std::size_t limit = redfish::https::kMaxBodyBytes;
    ASSERT_EQ(limit, 32u << 20);
    // Refused with a body of exactly the limit, so that no parse slows the test.
    bmc->script("GET", kPower, reply(404, {{"Content-Type", "application/json"}}, std::string(limit, ' ')));
    EXPECT_EQ(kit::stdout_of([&] { EXPECT_FALSE(redfish::get_chassisPower(kit::link_for(kit::access_for(*bmc))->bmc, "t")); }),
              "Falha ao obter informações de energia do chassi.\n");
    const auto failure = failure_of([&] { power_with_body(*bmc, "1" + std::string(limit, ' ')); });
    EXPECT_EQ(failure.kind, support::FailureKind::ResponseTooLarge);
    EXPECT_EQ(std::string(failure.what()),
              "GET https://" + bmc->url_base() + kPower + ": the answer's body is larger than 32 MiB");
}

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(Readers, NestingUpTo256LevelsIsReadAndDeeperEndsTheRun) {
    auto bmc = kit::start_bmc();
    EXPECT_TRUE(power_with_body(*bmc, nested(256)));
    EXPECT_TRUE(power_with_body(*bmc, "[\"" + std::string(1000, '[') + "\\\"{{{\"]"));  // brackets inside text
    const auto failure = failure_of([&] { power_with_body(*bmc, nested(257)); });
    EXPECT_EQ(failure.kind, support::FailureKind::InvalidJson);
    EXPECT_NE(std::string(failure.what()).find(kPower), std::string::npos) << failure.what();
    EXPECT_EQ(failure_of([&] { redfish::parse_document(std::string(100000, '{'), "here"); }).kind, support::FailureKind::InvalidJson);
}

// What the JSON library makes of numbers and words that JSON does not have,
// or that do not fit the types it keeps numbers in.
TEST(Readers, NumbersBeyondTheLibrarysTypes) {
    const std::string where = "GET https://bmc/x";
    // Integers beyond 64 bits become the nearest double.
    const auto big = redfish::parse_document("[18446744073709551616, -9223372036854775809]", where);
    EXPECT_TRUE(big[0].is_number_float());
    EXPECT_EQ(big[0].get<double>(), 18446744073709551616.0);
    EXPECT_TRUE(big[1].is_number_float());
    EXPECT_EQ(big[1].get<double>(), -9223372036854775808.0);
    // Too small for a double: zero.
    const auto tiny = redfish::parse_document("[1e-400]", where);
    EXPECT_TRUE(tiny[0].is_number_float());
    EXPECT_EQ(tiny[0].get<double>(), 0.0);
    // A repeated member name: one member, at the first place, holding the last value.
    const auto repeated = redfish::parse_document(R"({"a": 1, "b": 2, "a": 3})", where);
    EXPECT_EQ(repeated.dump(), R"({"a":3,"b":2})");
    // Too large for a double, and the non-numbers, are refused.
    for (const std::string body : {"[1e400]", "[-1e400]", "[NaN]", "[Infinity]", "[-Infinity]", "[nan]"}) {
        const auto failure = failure_of([&] { redfish::parse_document(body, where); });
        EXPECT_EQ(failure.kind, support::FailureKind::InvalidJson) << body;
        EXPECT_EQ(std::string(failure.what()).rfind(where + ": ", 0), 0u) << failure.what();
    }
}

TEST(Readers, SlowBmcIsCutOffByTheRunTimeBound) {
    using namespace std::chrono_literals;
    auto bmc = kit::start_bmc();
    auto slow = reply(200, {{"Content-Type", "application/json"}}, "{}");
    slow.delay = 5s;
    bmc->script("GET", kPower, slow);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(redfish::get_chassisPower(kit::link_for(kit::access_for(*bmc), 300ms)->bmc, "t"),
                 support::Interrupted);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, 290ms);
    EXPECT_LT(elapsed, 1000ms);
}

}  // namespace
