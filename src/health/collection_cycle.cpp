#include "health/collection_cycle.h"

#include <array>
#include <chrono>
#include <functional>

#include "health/console_report.h"
#include "health/reduction.h"
#include "health/service_reduction.h"
#include "health/zabbix_delivery.h"
#include "redfish/https.h"
#include "redfish/readers.h"
#include "redfish/service_walk.h"
#include "redfish/session.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/program.h"

namespace health {
namespace {

// What a mode has read, reduced to the snapshot once the session is closed.
using Reduction = std::function<HealthSnapshot()>;

// How one mode goes through the cycle: its login, and how it reads with the
// token.
struct Mode {
    std::function<redfish::RedfishSession(redfish::Bmc& bmc)> log_in;
    std::function<Reduction(redfish::Bmc& bmc, const std::string& token)> read;
};

// A token with a control character cannot be presented in any request, the
// logout included, so it is no better than none: going on would only end in
// failures, and it must never reach a header where it could split the
// request.
bool usable(const std::optional<std::string>& token) {
    return token && !token->empty() && !redfish::https::has_control_character(*token);
}

// A run cut off by its time bound between login and logout would leave its
// session behind just the same: one more logout is tried, bounded by a grace
// of its own past the run's bound. The run still ends with the timeout.
void log_out_within_grace(redfish::Bmc& bmc, const redfish::RedfishSession& session) {
    support::RunGuard grace = support::run_guard(std::chrono::seconds(support::LOGOUT_GRACE));
    support::RunGuard* run_guard = bmc.client.guard;
    bmc.client.guard = &grace;
    try {
        redfish::delete_session(bmc, *session.token, session.session_uri);
    } catch (const support::Interrupted&) {
        support::print_line("Falha ao encerrar sessão: no answer within the " + std::to_string(support::LOGOUT_GRACE) +
                            "-second grace past the run's time limit");
    }
    bmc.client.guard = run_guard;
}

// BMCs keep a session until it times out, and a probe that leaves one behind
// on every failing run piles them up: a failure between login and logout
// still logs out once before it ends the run. A failure of that attempt is
// ignored so that the original failure is the one reported.
void log_out_after_failure(redfish::Bmc& bmc, const redfish::RedfishSession& session) {
    try {
        redfish::delete_session(bmc, *session.token, session.session_uri);
    } catch (const support::Interrupted&) {
        log_out_within_grace(bmc, session);
    } catch (...) {
    }
}

Reduction read_documents(redfish::Bmc& bmc, const redfish::RedfishSession& session, const Mode& mode) {
    try {
        return mode.read(bmc, *session.token);
    } catch (const support::Interrupted&) {
        throw;
    } catch (...) {
        log_out_after_failure(bmc, session);
        throw;
    }
}

// A stop that comes while the login is on its way waits for its answer,
// within the logout's grace: the BMC may hold the session already, and only
// the answer names it. The stop is raised by the first request after it.
redfish::RedfishSession log_in_through_a_stop(redfish::Bmc& bmc, support::RunGuard& guard, const Mode& mode) {
    struct Deferred {
        support::RunGuard& guard;
        ~Deferred() { guard.stop_deferred = false; }
    } deferred{guard};
    support::time_left(guard);  // a stop before the login ends the run at once
    guard.stop_deferred = true;
    return mode.log_in(bmc);
}

support::RunOutcome run_cycle(const CycleRequest& request, support::RunGuard& guard, const Mode& mode) {
    redfish::Bmc bmc{request.bmc, redfish::https::client(guard, request.bmc.certificate)};
    bmc.client.tls_sessions = request.bmc.tls_sessions;
    const redfish::RedfishSession session = log_in_through_a_stop(bmc, guard, mode);
    if (!usable(session.token)) return {1, std::nullopt, "Erro ao buscar o token de autenticação. Contactar Quorvane!"};
    Reduction reduction;
    try {
        reduction = read_documents(bmc, session, mode);
        redfish::delete_session(bmc, *session.token, session.session_uri);
    } catch (const support::Interrupted&) {
        log_out_within_grace(bmc, session);
        throw;
    }

    const HealthSnapshot snapshot = reduction();
    if (request.zabbix_host == "debug") {
        print_debug_report(snapshot);
        return support::finished();
    }
    if (request.deliver) request.deliver(snapshot, guard);
    else deliver_to_zabbix(snapshot, request.zabbix_server, request.zabbix_host, guard);
    return support::finished();
}

constexpr std::string_view kTryRedfishMode = " — try the mode \"discoveryRedfish\" for current OpenBMC firmware";

// Current firmware answers the old paths with 404 (500 on builds of late
// 2022 to mid 2023).
bool moved_away(long status) { return status == 404 || status == 500; }

// The main mode's documents, reduced; a missing document that the BMC
// answered as current firmware does gets the advice to use the other mode.
HealthSnapshot reduced_documents(const redfish::Documents& documents,
                                 const std::array<long, std::size(redfish::kResourceReaders)>& statuses) {
    try {
        return build_snapshot(documents);
    } catch (const MissingDocument& missing) {
        // The reduction stops at the first missing document, in reader order.
        std::size_t first = 0;
        while (first < statuses.size() && documents.*(redfish::kResourceReaders[first].held_as)) ++first;
        if (first == statuses.size() || !moved_away(statuses[first])) throw;
        throw support::Failure(missing.kind, missing.what() + std::string(kTryRedfishMode));
    }
}

}  // namespace

support::RunOutcome discoveryOpenBMC(const CycleRequest& request, support::RunGuard& guard) {
    const auto read = [](redfish::Bmc& bmc, const std::string& token) -> Reduction {
        redfish::Documents documents;
        std::array<long, std::size(redfish::kResourceReaders)> statuses{};
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            const auto& reader = redfish::kResourceReaders[i];
            auto fetched = redfish::read_resource(bmc, reader, token);
            statuses[i] = fetched.status;
            documents.*(reader.held_as) = std::move(fetched.document);
        }
        return [documents = std::move(documents), statuses] { return reduced_documents(documents, statuses); };
    };
    return run_cycle(request, guard, {redfish::post_authToken, read});
}

support::RunOutcome discoveryRedfish(const CycleRequest& request, support::RunGuard& guard) {
    const auto read = [](redfish::Bmc& bmc, const std::string& token) -> Reduction {
        redfish::DocumentStore store;
        store.fetch = [&](const std::vector<std::string>& paths) {
            std::vector<std::optional<support::Json>> documents;
            for (auto& fetched : redfish::fetch_documents(bmc, paths, token))
                documents.push_back(std::move(fetched.document));
            return documents;
        };
        return [service = redfish::read_service(store)] { return snapshot_of_service(service); };
    };
    return run_cycle(request, guard, {redfish::post_authToken_linked, read});
}

}  // namespace health
