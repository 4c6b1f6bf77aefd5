#pragma once
// The fleet's settings, from the environment:
//   BMC_PROBE_FLEET_INTERVAL  seconds between two runs of one BMC (default 60);
//                             a run is bounded by it and by 900 seconds
//   BMC_PROBE_FLEET_RUNS      runs in flight at most, one thread each (default 512)
//   BMC_PROBE_FLEET_BACKLOG   values kept at most while Zabbix cannot take them
//                             (default 250000); the oldest make room for the newest
// Zabbix itself is found as for a one-shot run (zabbix/server.h).
#include <chrono>
#include <cstddef>

namespace run {

struct FleetSettings {
    std::chrono::seconds interval{60};
    std::size_t max_runs = 512;
    std::size_t backlog_values = 250000;
};

// The settings the environment gives; a support::Failure InvalidSetting
// naming the variable when one is not a whole number in its range.
FleetSettings fleet_settings();

}  // namespace run
