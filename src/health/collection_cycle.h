#pragma once
#include "run/settings.h"
#include "support/zabbix_server.h"

namespace health {

// The main mode: one pass from the BMC to Zabbix (or to the debug report),
// reading the five resources at their fixed paths. Every path ends the run.
[[noreturn]] void discoveryOpenBMC(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server);

// The same pass on any Redfish service: the five documents assembled from
// the whole service by the generic mode's rules (redfish/service_walk.h,
// redfish/service_rules.h), and what the BMC does not publish reported as
// "N/A", never as a problem. Only a failed login, a transport failure and
// invalid JSON end it early.
[[noreturn]] void discoveryRedfish(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server);

}  // namespace health
