#pragma once
#include "run/settings.h"
#include "support/zabbix_server.h"

namespace health {

// The main mode: one pass from the BMC to Zabbix (or to the debug report),
// reading the five resources at their fixed paths. Every path ends the run.
[[noreturn]] void discoveryOpenBMC(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server);

// The same pass, with each resource looked for where current firmware keeps
// it when its fixed path is refused.
[[noreturn]] void discoveryRedfish(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server);

}  // namespace health
