#pragma once
// Login to and logout from the BMC's Redfish session service.
#include <optional>
#include <string>

#include "redfish/access.h"

namespace redfish {

struct RedfishSession {
    std::optional<std::string> token;        // response header "X-Auth-Token" of the login
    std::optional<std::string> session_uri;  // response header "Location" of the login
};

inline constexpr std::string_view kSessionsPath = "/redfish/v1/SessionService/Sessions";

// POSTs user and pwd; a session with neither member unless answered 201.
RedfishSession post_authToken(Bmc& bmc);

// The login of the generic mode: as post_authToken, and when that is refused,
// once more at the session collection the service root links
// (Links.Sessions) when that is another one.
RedfishSession post_authToken_linked(Bmc& bmc);

// DELETEs the session and prints how that went; never fails the run itself,
// except by running out of time.
void delete_session(Bmc& bmc, const std::string& token, const std::optional<std::string>& session_uri);

// Where the logout goes for a "Location" value: url_base with its path, dot
// segments resolved; no value when that is not a path (it could name another
// host) or lies outside /redfish/v1.
std::optional<std::string> logout_url(const BmcAccess& access, const std::string& location);

}  // namespace redfish
