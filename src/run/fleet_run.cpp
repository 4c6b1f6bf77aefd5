#include "run/fleet_run.h"

#include "health/zabbix_delivery.h"
#include "run/bmc_arguments.h"
#include "run/dispatch.h"
#include "support/failure.h"
#include "support/utf8.h"
#include "zabbix/link.h"

namespace run {

std::string run_line(const support::RunOutcome& outcome) {
    if (outcome.failure) return std::string(support::kind_name(outcome.failure->kind)) + ": " + outcome.failure->what();
    if (!outcome.notice.empty()) return outcome.notice;
    return "OK";
}

void run_fleet_bmc(const FleetBmc& bmc, CURLSH* tls_sessions, std::chrono::milliseconds limit,
                   const volatile std::sig_atomic_t* stop_signal, zabbix::SharedSender& sender) {
    support::RunGuard guard = support::run_guard(limit, stop_signal);
    zabbix::ZabbixLink link{{}, &guard};  // only gathers: the sender sends
    const auto cycle = [&](support::RunGuard& bounded) {
        const RunSettings settings{bmc.mode, bmc.certificate, bmc.url_base, bmc.user, bmc.pwd, bmc.zabbix_host, {}};
        health::CycleRequest request{bmc_access(settings), bmc.zabbix_host, {}};
        request.bmc.tls_sessions = tls_sessions;
        request.deliver = [&](const health::HealthSnapshot& snapshot, support::RunGuard& /*guard*/) {
            health::gather_for_zabbix(snapshot, link, bmc.zabbix_host);
        };
        return collection_mode(bmc.mode)->cycle(request, bounded);
    };
    const support::RunOutcome outcome = guarded_outcome(cycle, guard);
    const bool stopped = outcome.failure && outcome.failure->kind == support::FailureKind::Stopped;
    if (!stopped) {
        // The line may quote what a BMC sent; Zabbix takes only valid UTF-8.
        zabbix::send_zabbix(link, bmc.zabbix_host, kRunKey, support::valid_utf8(run_line(outcome)));
    }
    zabbix::hand_over(sender, bmc.zabbix_host, std::move(link.gathered));
}

}  // namespace run
