// The Zabbix reply parser on whole replies, as the fuzzer feeds it.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/failure.h"
#include "support/zabbix_frame.h"

namespace {

std::string framed(const std::string& payload, std::uint32_t announced) {
    std::string bytes = "ZBXD\x01";
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((announced >> shift) & 0xFF);
    return bytes + std::string(4, '\0') + payload;
}

std::string framed(const std::string& payload) { return framed(payload, static_cast<std::uint32_t>(payload.size())); }

std::string failure_of(const std::string& reply) {
    try {
        support::parse_sender_reply(reply, "zbx:10051", "storageHealth");
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError);
        return failure.what();
    }
    return "";
}

TEST(SenderReply, AcceptedAndRefusedValues) {
    const auto accepted = support::parse_sender_reply(
        framed(R"({"response":"success","info":"processed: 1; failed: 0; total: 1"})"), "zbx:10051", "k");
    EXPECT_TRUE(accepted.accepted);
    EXPECT_EQ(accepted.info, "processed: 1; failed: 0; total: 1");
    const auto refused = support::parse_sender_reply(
        framed(R"({"response":"success","info":"processed: 0; failed: 1; total: 1"})") + "trailing", "zbx:10051", "k");
    EXPECT_FALSE(refused.accepted);
}

TEST(SenderReply, EveryBrokenReplyNamesServerAndKey) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "closed the connection without a reply"},
        {"HTTP/1.1 400", "not a Zabbix frame"},
        {"ZBXD\x01\x05", "after 6 bytes of the reply header"},
        {framed("", 0xFFFFFFFFu), "announces 4294967295 bytes"},
        {framed(R"({"response":"success"})", 40), "after 22 of 40 bytes"},
        {framed("[1]"), "not a JSON object"},
        {framed(R"({"info":"x"})"), "no \"response\""},
        {framed(R"({"response":"failed","info":"host not found"})"), "answered \"failed\": host not found"},
    };
    for (const auto& [reply, why] : cases) {
        const std::string message = failure_of(reply);
        EXPECT_EQ(message.rfind("Zabbix server zbx:10051, key \"storageHealth\": ", 0), 0u) << message;
        EXPECT_NE(message.find(why), std::string::npos) << message;
    }
}

}  // namespace
