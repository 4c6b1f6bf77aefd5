#pragma once
// The collection cycle: one pass from the BMC to Zabbix (or to the debug
// report) under the run's guard. Each mode returns how the run ended; a
// failure on the way is raised as support::Failure, a cut-off as
// support::Interrupted, after the logout has been tried.
#include <functional>
#include <string>

#include "health/snapshot.h"
#include "redfish/access.h"
#include "support/run_guard.h"
#include "support/run_outcome.h"
#include "zabbix/server.h"

namespace health {

// What one pass needs: the BMC, the Zabbix host name ("debug" for the report)
// and where the values go.
struct CycleRequest {
    redfish::BmcAccess bmc;
    std::string zabbix_host;
    zabbix::ZabbixServer zabbix_server;
    // Takes the snapshot instead of the delivery to zabbix_server (the fleet
    // hands it to the sender that many runs share); unset: delivered here.
    std::function<void(const HealthSnapshot& snapshot, support::RunGuard& guard)> deliver{};
};

// The main mode: the five resources at their fixed paths.
support::RunOutcome discoveryOpenBMC(const CycleRequest& request, support::RunGuard& guard);

// The same pass on any Redfish service, by the generic mode's rules
// (redfish/service_walk.h), what the BMC does not publish reported as "N/A",
// never as a problem. Only a failed login, a transport failure and invalid
// JSON end it early.
support::RunOutcome discoveryRedfish(const CycleRequest& request, support::RunGuard& guard);

}  // namespace health
