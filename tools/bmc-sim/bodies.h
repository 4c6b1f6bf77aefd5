#pragma once
// The documents bmcweb answers with, serialised as bmcweb does: keys sorted,
// two-space indent, non-ASCII escaped, no trailing newline.
#include <string>

namespace bmc_sim::bodies {

std::string session(const std::string& id, const std::string& user, const std::string& client_address);
std::string success();
std::string resource_not_found(const std::string& type, const std::string& name);
std::string login_refused();
std::string malformed_login();
std::string query_not_supported();

}  // namespace bmc_sim::bodies
