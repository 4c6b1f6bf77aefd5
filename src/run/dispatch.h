#pragma once
#include <chrono>
#include <string>
#include <string_view>

#include "health/collection_cycle.h"
#include "run/settings.h"

namespace run {

// The modes that run a collection cycle, by their exact mode word.
struct CollectionMode {
    std::string_view word;
    void (*cycle)(const RunSettings& settings, const support::ZabbixServer& zabbix_server);
};

inline constexpr CollectionMode kCollectionModes[] = {
    {"discoveryOpenBMC", health::discoveryOpenBMC},
    {"discoveryRedfish", health::discoveryRedfish},
};

// The bounded section of a run: the version banner, or zabbix_server and the
// mode. Returns at the normal end; a mode's own end arrives as support::RunEnd,
// a hit bound as support::TimeoutException, any other failure as itself.
void run_modes(RunSettings& settings, const std::string& program_name, std::chrono::milliseconds limit);

}  // namespace run
