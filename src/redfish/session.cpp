#include "redfish/session.h"

#include "redfish/access.h"
#include "redfish/https.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/json.h"
#include "support/utf8.h"

namespace redfish {
namespace {

std::string login_body(const BmcAccess& access) {
    support::Json body = support::Json::object();
    body["UserName"] = access.user;
    body["Password"] = access.pwd;
    return body.dump(-1, ' ', false, support::Json::error_handler_t::replace);
}

}  // namespace

RedfishSession post_authToken(const BmcAccess& access) {
    const auto response =
        https::request("POST", bmc_url(access, kSessionsPath), {"Content-Type: application/json"}, login_body(access));
    if (response.status != 201) {
        support::print_line("Falha ao obter o token de autenticação.");
        return {};
    }
    return {https::header(response, "X-Auth-Token"), https::header(response, "Location")};
}

std::string session_path(const std::string& location) {
    const auto scheme_end = location.find("://");
    if (scheme_end == std::string::npos || location.find('/') < scheme_end) return location;
    const auto path_start = location.find_first_of("/?", scheme_end + 3);
    if (path_start == std::string::npos) return "/";
    const std::string rest = location.substr(path_start);
    return rest.front() == '?' ? "/" + rest : rest;
}

std::optional<std::string> logout_url(const BmcAccess& access, const std::string& location) {
    const std::string path = session_path(location);
    // Appended to url_base, anything but a path could change the host the
    // token goes to ("@elsewhere/...", ".example.com/...").
    if (path.empty() || path.front() != '/') return std::nullopt;
    return bmc_url(access, path);
}

void delete_session(const BmcAccess& access, const std::string& token, const std::optional<std::string>& session_uri) {
    if (!session_uri) return;  // nothing names the session to close
    const auto url = logout_url(access, *session_uri);
    if (!url) {
        support::print_line("Falha ao encerrar sessão: the \"Location\" of the login is not a path on this BMC");
        return;
    }
    https::Response response;
    try {
        response = https::request("DELETE", *url, {"X-Auth-Token: " + token});
    } catch (const support::Failure& failure) {
        support::print_line("Falha ao encerrar sessão: " + std::string(failure.what()));
        return;
    }
    if (response.status == 200 || response.status == 204) {
        support::print_line("Sessão encerrada com sucesso.");
        return;
    }
    support::print_line("Falha ao encerrar sessão: " + std::to_string(response.status));
    support::print_line(support::valid_utf8(response.body));
}

}  // namespace redfish
