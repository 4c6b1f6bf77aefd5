#pragma once
#include "run/settings.h"
#include "support/zabbix_server.h"

namespace health {

// The main mode: one pass from the BMC to Zabbix (or to the debug report).
// Every path ends the run.
[[noreturn]] void discoveryOpenBMC(const run::RunSettings& settings, const support::ZabbixServer& zabbix_server);

}  // namespace health
