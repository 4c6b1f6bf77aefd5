#pragma once
#include <chrono>
#include <string>

#include "run/settings.h"

namespace run {

// The bounded section of a run: the version banner, or zabbix_server and the
// mode. Returns at the normal end; a mode's own end arrives as support::RunEnd,
// a hit bound as support::TimeoutException, any other failure as itself.
void run_modes(RunSettings& settings, const std::string& program_name, std::chrono::milliseconds limit);

}  // namespace run
