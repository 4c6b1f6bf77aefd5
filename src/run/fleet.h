#pragma once
// The fleet: one long-lived process that polls every BMC of a fleet file
// (run/fleet_file.h) once per interval, its runs spread evenly over the
// interval by a hash of the Zabbix host name (so a BMC keeps its slot when
// the file is reloaded), each run on a thread of a pool that grows as runs
// need it up to the cap (run/fleet_settings.h), their values sent by one
// shared sender. SIGHUP re-reads the file: new BMCs start at their slot,
// removed ones stop after their current run, changed lines take effect at
// their next run; a file refused keeps the list before. SIGTERM or SIGINT
// starts no more runs, stops those under way (each logs out within the
// grace) and ends once the last values are out.
#include <chrono>
#include <string>

#include "support/run_outcome.h"

namespace run {

// Polls until stopped; the outcome is a failure only when the fleet could
// not start (its settings, its file, Zabbix's address).
support::RunOutcome run_fleet(const std::string& path, std::chrono::seconds runtime_limit);

}  // namespace run
