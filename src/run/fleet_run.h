#pragma once
// One run of one fleet BMC: the reads, rules, values and keys of a one-shot
// run of its mode, under a guard of its own, its values handed to the sender
// the fleet shares, followed by bmcProbeRun: "OK", or the line a one-shot
// run would end with ("<kind>: <where and why>", or its last notice).
#include <curl/curl.h>

#include <chrono>
#include <csignal>
#include <string>

#include "run/fleet_file.h"
#include "support/run_outcome.h"
#include "zabbix/shared_sender.h"

namespace run {

inline constexpr const char* kRunKey = "bmcProbeRun";

// What bmcProbeRun holds for a run that ended so.
std::string run_line(const support::RunOutcome& outcome);

// The run, bounded by limit and stopped by stop_signal; a run stopped so
// hands over only the values it had, without bmcProbeRun, since the process
// is ending rather than the BMC failing.
void run_fleet_bmc(const FleetBmc& bmc, CURLSH* tls_sessions, std::chrono::milliseconds limit,
                   const volatile std::sig_atomic_t* stop_signal, zabbix::SharedSender& sender);

}  // namespace run
