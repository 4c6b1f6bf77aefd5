// The pure part of the login answer's handling: header lines, the logout
// address made from "Location", and which tokens can be sent back.
#include <gtest/gtest.h>

#include "redfish/https.h"
#include "redfish/session.h"

namespace {

redfish::BmcAccess bmc_at(const std::string& url_base) {
    redfish::BmcAccess bmc_access;
    bmc_access.url_base = url_base;
    return bmc_access;
}

TEST(LoginHeaders, LinesAreTrimmedAndANewStatusLineStartsAfresh) {
    std::vector<std::pair<std::string, std::string>> headers;
    for (const char* line : {"HTTP/1.1 100 Continue\r\n", "X-Auth-Token: stale\r\n", "\r\n",
                             "HTTP/1.1 201 Created\r\n", "x-auth-token:\t abc \r\n", "no colon here\r\n",
                             "Location: /s/1\r\n"})
        redfish::https::take_header_line(line, headers);
    redfish::https::Response response;
    response.headers = headers;
    EXPECT_EQ(headers.size(), 2u);
    EXPECT_EQ(redfish::https::header(response, "X-Auth-Token"), "abc");
    EXPECT_EQ(redfish::https::header(response, "location"), "/s/1");
}

TEST(LoginHeaders, LogoutGoesOnlyToTheBmcItself) {
    const auto bmc_access = bmc_at("10.0.0.21");
    EXPECT_EQ(redfish::logout_url(bmc_access, "/redfish/v1/SessionService/Sessions/a"),
              "https://10.0.0.21/redfish/v1/SessionService/Sessions/a");
    EXPECT_EQ(redfish::logout_url(bmc_access, "https://198.51.100.7:8443/redfish/v1/SessionService/Sessions/a"),
              "https://10.0.0.21/redfish/v1/SessionService/Sessions/a");
    // Joined to url_base, these would name another host (user info, a longer
    // host name) or no path at all.
    for (const char* location : {"@198.51.100.7/redfish/v1/SessionService/Sessions/a", ".example.com/x", "a", ""})
        EXPECT_EQ(redfish::logout_url(bmc_access, location), std::nullopt) << location;
}

TEST(LoginHeaders, ControlCharactersMakeAValueUnsendable) {
    EXPECT_FALSE(redfish::https::has_control_character("Xq3hT0bLr7Wm2KfV9sNd"));
    EXPECT_FALSE(redfish::https::has_control_character("t\xc3\xa9 ~"));
    const std::vector<std::string> unsafe = {"a\rb", "a\nb", "a\tb", std::string("a\0b", 3), "a\x1b", "a\x7f"};
    for (const auto& value : unsafe)
        EXPECT_TRUE(redfish::https::has_control_character(value)) << value;
}

}  // namespace
