#include "health/collection_cycle.h"

#include <array>
#include <chrono>
#include <functional>

#include "health/console_report.h"
#include "health/reduction.h"
#include "health/zabbix_delivery.h"
#include "redfish/https.h"
#include "redfish/readers.h"
#include "redfish/service_walk.h"
#include "redfish/session.h"
#include "run/constants.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/run_end.h"
#include "support/runtime_limiter.h"

namespace health {
namespace {

// How one mode goes through the cycle: its login, how it reads the five
// documents with the token, the advice it adds to the report of a missing
// document (chosen once all reads are done), and the rules its documents
// are reduced by.
struct Mode {
    std::function<redfish::RedfishSession(const redfish::BmcAccess& bmc)> log_in;
    std::function<redfish::Documents(const redfish::BmcAccess& bmc, const std::string& token)> read;
    std::function<std::string(const redfish::Documents& documents)> missing_hint;
    Rules rules;
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
void log_out_within_grace(const redfish::BmcAccess& bmc, const redfish::RedfishSession& session) {
    const bool finished = support::run_within(std::chrono::seconds(run::LOGOUT_GRACE), [&] {
        redfish::delete_session(bmc, *session.token, session.session_uri);
    });
    if (!finished)
        support::print_line("Falha ao encerrar sessão: no answer within the " + std::to_string(run::LOGOUT_GRACE) +
                            "-second grace past the run's time limit");
}

// BMCs keep a session until it times out, and a probe that leaves one behind
// on every failing run piles them up: a failure between login and logout
// still logs out once before it ends the run. A failure of that attempt is
// ignored so that the original failure is the one reported.
void log_out_after_failure(const redfish::BmcAccess& bmc, const redfish::RedfishSession& session) {
    try {
        redfish::delete_session(bmc, *session.token, session.session_uri);
    } catch (const support::TimeoutException&) {
        log_out_within_grace(bmc, session);
    } catch (...) {
    }
}

redfish::Documents read_documents(const redfish::BmcAccess& bmc, const redfish::RedfishSession& session,
                                  const Mode& mode) {
    try {
        return mode.read(bmc, *session.token);
    } catch (const support::TimeoutException&) {
        throw;
    } catch (...) {
        log_out_after_failure(bmc, session);
        throw;
    }
}

HealthSnapshot snapshot_of(const redfish::Documents& documents, const Mode& mode) {
    try {
        return build_snapshot(documents, mode.rules);
    } catch (const MissingDocument& missing) {
        const std::string hint = mode.missing_hint(documents);
        if (hint.empty()) throw;
        throw support::Failure(missing.kind, missing.what() + hint);
    }
}

[[noreturn]] void run_cycle(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server,
                            const Mode& mode) {
    const redfish::BmcAccess bmc{settings.url_base, settings.user, settings.pwd};
    const redfish::RedfishSession session = mode.log_in(bmc);
    if (!usable(session.token)) {
        support::print_line("Erro ao buscar o token de autenticação. Contactar Quorvane!");
        support::end_run(1);
    }
    redfish::Documents documents;
    try {
        documents = read_documents(bmc, session, mode);
        redfish::delete_session(bmc, *session.token, session.session_uri);
    } catch (const support::TimeoutException&) {
        log_out_within_grace(bmc, session);
        throw;
    }

    const HealthSnapshot snapshot = snapshot_of(documents, mode);
    const std::string& zabbix_host = settings.zabbix_host.value();
    if (zabbix_host == "debug") print_debug_report(snapshot);
    deliver_to_zabbix(snapshot, zabbix_server, zabbix_host);
}

constexpr std::string_view kTryRedfishMode = " — try the mode \"discoveryRedfish\" for current OpenBMC firmware";

// Current firmware answers the old paths with 404 (500 on builds of late
// 2022 to mid 2023).
bool moved_away(long status) { return status == 404 || status == 500; }

}  // namespace

void discoveryOpenBMC(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server) {
    constexpr std::size_t kReaders = std::size(redfish::kResourceReaders);
    std::array<long, kReaders> statuses{};
    const auto read = [&](const redfish::BmcAccess& bmc, const std::string& token) {
        redfish::Documents documents;
        for (std::size_t i = 0; i < kReaders; ++i) {
            const auto& reader = redfish::kResourceReaders[i];
            auto fetched = redfish::fetch_document(bmc, reader.path, token);
            statuses[i] = fetched.status;
            if (!fetched.document) support::print_line(reader.failure_line);
            documents.*(reader.held_as) = std::move(fetched.document);
        }
        return documents;
    };
    // The reduction stops at the first missing document, in reader order.
    const auto hint = [&](const redfish::Documents& documents) {
        for (std::size_t i = 0; i < kReaders; ++i)
            if (!(documents.*(redfish::kResourceReaders[i].held_as)))
                return std::string(moved_away(statuses[i]) ? kTryRedfishMode : "");
        return std::string();
    };
    run_cycle(settings, zabbix_server, {redfish::post_authToken, read, hint, Rules::OpenBMC});
}

void discoveryRedfish(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server) {
    const auto read = [](const redfish::BmcAccess& bmc, const std::string& token) {
        redfish::DocumentStore store;
        store.fetch = [&](const std::vector<std::string>& paths) {
            std::vector<std::optional<support::Json>> documents;
            for (auto& fetched : redfish::fetch_documents(bmc, paths, token))
                documents.push_back(std::move(fetched.document));
            return documents;
        };
        return redfish::read_service(store);
    };
    // Every document it reduces is whole: nothing is ever missing.
    const auto no_hint = [](const redfish::Documents&) { return std::string(); };
    run_cycle(settings, zabbix_server, {redfish::post_authToken_linked, read, no_hint, Rules::Redfish});
}

}  // namespace health
