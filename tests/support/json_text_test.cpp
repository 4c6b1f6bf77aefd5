#include "support/json_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/value_text.h"

namespace {

using support::Json;
using support::json_text;

TEST(JsonText, SeparatorsOrderAndKinds) {
    Json row = Json::object();
    row["{#FAN_NAME}"] = "N/A";
    row["{#READING_RPM}"] = "N/A";
    row["{#FAN_HEALTH}"] = 0;
    row["{#FAN_STATE}"] = 0;
    Json doc = {{"data", Json::array({row})}};
    EXPECT_EQ(json_text(doc),
              R"({"data": [{"{#FAN_NAME}": "N/A", "{#READING_RPM}": "N/A", "{#FAN_HEALTH}": 0, "{#FAN_STATE}": 0}]})");
    EXPECT_EQ(json_text(Json{{"data", Json::array()}}), R"({"data": []})");
    EXPECT_EQ(json_text(Json::object()), "{}");
    const Json mixed = Json::parse(R"([12, 12.0, -3, true, false, null, {"z": 1, "a": [1, {}]}, 18446744073709551615])");
    EXPECT_EQ(json_text(mixed), R"([12, 12.0, -3, true, false, null, {"z": 1, "a": [1, {}]}, 18446744073709551615])");
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(json_text(Json::array({std::nan(""), inf, -inf, 1e16, 9e-05})), "[NaN, Infinity, -Infinity, 1e+16, 9e-05]");
}

TEST(JsonText, TextIsEscapedToPureAscii) {
    EXPECT_EQ(json_text("Inlet \xc2\xb0" "C"), R"("Inlet \u00b0C")");
    EXPECT_EQ(json_text("q\"b\\s/"), R"("q\"b\\s/")");
    EXPECT_EQ(json_text("\n\r\t\b\f\x01\x1f\x7f"), R"("\n\r\t\b\f\u0001\u001f\u007f")");
    EXPECT_EQ(json_text("\xf0\x9f\x98\x80"), R"("\ud83d\ude00")");
    EXPECT_EQ(json_text("\xe2\x82\xac"), R"("\u20ac")");
    EXPECT_EQ(json_text("a\xff" "b"), R"("a\ufffdb")");
    EXPECT_EQ(json_text("\xc3"), R"("\ufffd")");
    EXPECT_EQ(json_text("\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(json_text(Json{{"\xc2\xb0", 1}}), R"({"\u00b0": 1})");
}

TEST(ValueText, EveryKindAsAPersonReadsIt) {
    EXPECT_EQ(support::value_text("N/A"), "N/A");
    EXPECT_EQ(support::value_text("a \"b\""), "a \"b\"");
    EXPECT_EQ(support::value_text(12), "12");
    EXPECT_EQ(support::value_text(-12), "-12");
    EXPECT_EQ(support::value_text(12.0), "12.0");
    EXPECT_EQ(support::value_text(std::nan("")), "nan");
    EXPECT_EQ(support::value_text(true), "True");
    EXPECT_EQ(support::value_text(false), "False");
    EXPECT_EQ(support::value_text(nullptr), "None");
    EXPECT_EQ(support::value_text(Json::parse(R"({"a": [1, 2.5, "\u00b0"]})")), R"({"a": [1, 2.5, "\u00b0"]})");
}

}  // namespace
