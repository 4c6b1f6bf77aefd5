// The sender protocol's bytes: the data items and request frame, and the
// reply parser on whole replies, as the fuzzers feed them.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/failure.h"
#include "zabbix/frame.h"

namespace {

const zabbix::ZabbixWhere kOneValue{"zbx:10051", "storageHealth", "storageHealth", 1};

std::string framed(const std::string& payload, std::uint32_t announced) {
    std::string bytes = "ZBXD\x01";
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((announced >> shift) & 0xFF);
    return bytes + std::string(4, '\0') + payload;
}

std::string framed(const std::string& payload) { return framed(payload, static_cast<std::uint32_t>(payload.size())); }

// The answer read from reply, the bytes a server sent back.
zabbix::SendResult read_whole(const std::string& reply, const zabbix::ZabbixWhere& where) {
    std::size_t read = 0;
    return zabbix::read_reply(
        [&](std::size_t size) {
            std::string part = reply.substr(read, size);
            read += part.size();
            return part;
        },
        where);
}

std::string failure_of(const std::string& reply, const zabbix::ZabbixWhere& where = kOneValue) {
    try {
        read_whole(reply, where);
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.kind, support::FailureKind::ZabbixError);
        return failure.what();
    }
    return "";
}

TEST(SenderFrame, ItemsAndTheFrameThatCarriesThem) {
    const std::string first = *zabbix::sender_item("bmc \"01\"", "readingCelsius[Inlet °]", 22.5, {1796835845, 7});
    EXPECT_EQ(first, R"({"host":"bmc \"01\"","key":"readingCelsius[Inlet °]","value":"22.5","clock":1796835845,)"
                     R"("ns":7})");
    const std::string second = *zabbix::sender_item("bmc", "k", support::Json::array({1, "a\n"}), {1, 0});
    EXPECT_EQ(second, R"({"host":"bmc","key":"k","value":"[1, \"a\\n\"]","clock":1,"ns":0})");
    const std::string frame = zabbix::sender_frame(first + "," + second, {1796835846, 123456789});
    const std::string payload = frame.substr(zabbix::kFrameHeaderSize);
    EXPECT_EQ(frame.substr(0, zabbix::kFrameHeaderSize), framed("", static_cast<std::uint32_t>(payload.size())));
    EXPECT_EQ(payload, R"({"request":"sender data","data":[)" + first + "," + second +
                           R"(],"clock":1796835846,"ns":123456789})");
    const auto parsed = support::Json::parse(payload);
    EXPECT_EQ(parsed["data"][0]["host"], "bmc \"01\"");
    EXPECT_EQ(parsed["data"][1]["value"], "[1, \"a\\n\"]");
}

// The same JSON text as nlohmann-json writes for every kind of character.
TEST(SenderFrame, TextIsEscapedAsAJsonLibraryEscapesIt) {
    std::string controls;
    for (char c = 0; c < 0x20; ++c) controls += c;
    const std::string texts[] = {controls, "\"quoted\" back\\slash /", "\x7f", "°C é 中 \xf0\x9f\x8c\xa1",
                                 "\xef\xbf\xbd", ""};
    for (const auto& text : texts) {
        const std::string item = zabbix::sender_item(text, text, text, {5, 6}).value_or("none");
        const std::string quoted = support::Json(text).dump();
        EXPECT_EQ(item, "{\"host\":" + quoted + ",\"key\":" + quoted + ",\"value\":" + quoted +
                            ",\"clock\":5,\"ns\":6}");
    }
}

TEST(SenderFrame, TextThatIsNotUtf8GivesNoItem) {
    const std::string broken[] = {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"};
    for (const auto& bytes : broken) {
        EXPECT_FALSE(zabbix::sender_item(bytes, "k", "v", {}));
        EXPECT_FALSE(zabbix::sender_item("bmc", "a " + bytes, "v", {}));
        EXPECT_FALSE(zabbix::sender_item("bmc", "k", bytes + " z", {}));
    }
}

TEST(SenderReply, RefusedValuesAreCounted) {
    const auto accepted = read_whole(
        framed(R"({"response":"success","info":"processed: 149; failed: 0; total: 149"})"), kOneValue);
    EXPECT_EQ(accepted.failed, 0u);
    EXPECT_EQ(accepted.info, "processed: 149; failed: 0; total: 149");
    const auto refused = read_whole(
        framed(R"({"response":"success","info":"processed: 21; failed: 2; total: 23"})") + "trailing", kOneValue);
    EXPECT_EQ(refused.failed, 2u);
    const auto beyond = read_whole(
        framed(R"({"response":"success","info":"failed: 99999999999999999999999"})"), kOneValue);
    EXPECT_EQ(beyond.failed, UINT64_MAX);
    EXPECT_EQ(read_whole(framed(R"({"response":"success"})"), kOneValue).failed, 0u);
}

TEST(SenderReply, EveryBrokenReplyNamesServerAndKeys) {
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
    const std::string batch = failure_of("", {"zbx:10051", "storageHealth", "peakPowerState", 23});
    EXPECT_EQ(batch, "Zabbix server zbx:10051, 23 values from key \"storageHealth\" to \"peakPowerState\": "
                     "the server closed the connection without a reply");
}

}  // namespace
