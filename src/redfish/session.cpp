#include "redfish/session.h"

#include "redfish/access.h"
#include "redfish/https.h"
#include "redfish/readers.h"
#include "redfish/redfish_path.h"
#include "redfish/service.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/json.h"
#include "support/shown_text.h"

namespace redfish {
namespace {

std::string login_body(const BmcAccess& access) {
    support::Json body = support::Json::object();
    body["UserName"] = access.user;
    body["Password"] = access.pwd;
    return body.dump(-1, ' ', false, support::Json::error_handler_t::replace);
}

struct LoginAnswer {
    long status = 0;
    RedfishSession session;  // both members empty unless answered 201
};

LoginAnswer post_session(Bmc& bmc, std::string_view sessions_path) {
    const auto response = https::request(bmc.client, "POST", bmc_url(bmc.access, sessions_path),
                                         {"Content-Type: application/json"}, login_body(bmc.access));
    if (response.status != 201) return {response.status, {}};
    return {response.status, {https::header(response, "X-Auth-Token"), https::header(response, "Location")}};
}

RedfishSession refused_unless_created(const LoginAnswer& answer) {
    if (answer.status != 201) support::print_line("Falha ao obter o token de autenticação.");
    return answer.session;
}

// The session collection the service root links, which anyone may read.
std::optional<std::string> linked_sessions(Bmc& bmc) {
    const auto root = fetch_public_document(bmc, std::string(kServiceRoot)).document;
    if (!root || !root->is_object()) return std::nullopt;
    const auto links = root->find("Links");
    if (links == root->end() || !links->is_object() || !links->contains("Sessions")) return std::nullopt;
    const auto& sessions = (*links)["Sessions"];
    if (!sessions.is_object() || !sessions.contains("@odata.id")) return std::nullopt;
    return odata_path(sessions["@odata.id"]);
}

}  // namespace

RedfishSession post_authToken(Bmc& bmc) { return refused_unless_created(post_session(bmc, kSessionsPath)); }

RedfishSession post_authToken_linked(Bmc& bmc) {
    auto answer = post_session(bmc, kSessionsPath);
    // A BMC refuses a request without a token before it looks at the path, so
    // a missing collection may answer 401 as a wrong password does: the
    // service root tells.
    if (answer.status != 201) {
        const auto linked = linked_sessions(bmc);
        if (linked && *linked != kSessionsPath) answer = post_session(bmc, *linked);
    }
    return refused_unless_created(answer);
}

std::optional<std::string> logout_url(const BmcAccess& access, const std::string& location) {
    // Appended to url_base, anything but a path could change the host the
    // token goes to ("@elsewhere/...", ".example.com/..."); a path that
    // leaves /redfish/v1 would hand it to another service of the BMC.
    const auto path = redfish_tree_path(link_path(location));
    if (!path) return std::nullopt;
    return bmc_url(access, *path);
}

void delete_session(Bmc& bmc, const std::string& token, const std::optional<std::string>& session_uri) {
    if (!session_uri) return;  // nothing names the session to close
    const auto url = logout_url(bmc.access, *session_uri);
    if (!url) {
        if (link_path(*session_uri).rfind('/', 0) != 0)
            support::print_line("Falha ao encerrar sessão: the \"Location\" of the login is not a path on this BMC");
        else
            support::print_line(
                "Falha ao encerrar sessão: the \"Location\" of the login is not a path under /redfish/v1: " +
                support::shown_text(*session_uri));
        return;
    }
    https::Response response;
    try {
        response = https::request(bmc.client, "DELETE", *url, {"X-Auth-Token: " + token});
    } catch (const support::Failure& failure) {
        support::print_line("Falha ao encerrar sessão: " + std::string(failure.what()));
        return;
    }
    if (response.status == 200 || response.status == 204) {
        support::print_line("Sessão encerrada com sucesso.");
        return;
    }
    support::print_line("Falha ao encerrar sessão: " + std::to_string(response.status));
    support::print_line(support::shown_text(response.body));
}

}  // namespace redfish
