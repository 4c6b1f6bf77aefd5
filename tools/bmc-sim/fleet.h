#pragma once
// Many simulated BMCs in one process: one on each port of a range, all
// serving the same scenario with the same certificate and one worker pool,
// each with its own sessions and counts, as separate machines would.
#include <cstdio>
#include <memory>
#include <vector>

#include "bmc-sim/test_bmc.h"

namespace bmc_sim {

struct FleetOptions {
    int first_port = 0;
    int last_port = 0;
    std::size_t threads = 1024;  // connections served at once, over all BMCs
    // When set: "UNIX_MS PORT login" and "UNIX_MS PORT logout" for each
    // session opened and closed, the times a run's first and last requests
    // were answered.
    std::FILE* run_log = nullptr;
};

using Fleet = std::vector<std::unique_ptr<TestBmc>>;

// Starts them all; each gets a copy of each's settings with its own port.
// Raises the open-file limit to the hard limit first and refuses a range
// that would not fit in it.
Fleet start_fleet(const Options& each, const FleetOptions& fleet);

void stop_fleet(Fleet& fleet);

// The sums over all BMCs.
Counts fleet_counts(const Fleet& fleet);

}  // namespace bmc_sim
