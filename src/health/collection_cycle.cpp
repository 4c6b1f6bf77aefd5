#include "health/collection_cycle.h"

#include "health/console_report.h"
#include "health/reduction.h"
#include "health/zabbix_delivery.h"
#include "redfish/https.h"
#include "redfish/readers.h"
#include "redfish/session.h"
#include "support/console.h"
#include "support/run_end.h"
#include "support/runtime_limiter.h"

namespace health {
namespace {

// A token with a control character cannot be presented in any request, the
// logout included, so it is no better than none: going on would only end in
// failures, and it must never reach a header where it could split the
// request.
bool usable(const std::optional<std::string>& token) {
    return token && !token->empty() && !redfish::https::has_control_character(*token);
}

// BMCs keep a session until it times out, and a probe that leaves one behind
// on every failing run piles them up: a failure between login and logout
// still logs out once before it ends the run. A failure of that attempt is
// ignored so that the original failure is the one reported.
void log_out_after_failure(const run::RunSettings& settings, const redfish::RedfishSession& session) {
    try {
        redfish::delete_session(settings, *session.token, session.session_uri);
    } catch (...) {
    }
}

redfish::Documents read_documents(const run::RunSettings& settings, const redfish::RedfishSession& session) {
    redfish::Documents documents;
    try {
        for (const auto& reader : redfish::kResourceReaders)
            documents.*(reader.held_as) = redfish::read_resource(settings, reader, *session.token);
    } catch (const support::TimeoutException&) {
        throw;
    } catch (...) {
        log_out_after_failure(settings, session);
        throw;
    }
    return documents;
}

}  // namespace

void discoveryOpenBMC(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server) {
    const redfish::RedfishSession session = redfish::post_authToken(settings);
    if (!usable(session.token)) {
        support::print_line("Erro ao buscar o token de autenticação. Contactar Quorvane!");
        support::end_run(1);
    }
    const redfish::Documents documents = read_documents(settings, session);
    redfish::delete_session(settings, *session.token, session.session_uri);

    const HealthSnapshot snapshot = build_snapshot(documents);
    const std::string& zabbix_host = settings.zabbix_host.value();
    if (zabbix_host == "debug") print_debug_report(snapshot);
    deliver_to_zabbix(snapshot, zabbix_server, zabbix_host);
}

}  // namespace health
