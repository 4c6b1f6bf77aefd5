#pragma once
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <string_view>

#include "health/collection_cycle.h"
#include "run/settings.h"
#include "support/run_outcome.h"

namespace run {

// The modes that run a collection cycle, by their exact mode word.
struct CollectionMode {
    std::string_view word;
    support::RunOutcome (*cycle)(const health::CycleRequest& request, support::RunGuard& guard);
};

inline constexpr CollectionMode kCollectionModes[] = {
    {"discoveryOpenBMC", health::discoveryOpenBMC},
    {"discoveryRedfish", health::discoveryRedfish},
};

// The mode of that word, or null.
const CollectionMode* collection_mode(std::string_view word);

// body under guard, every way it ends (failures and cut-offs included) as the
// outcome.
support::RunOutcome guarded_outcome(const std::function<support::RunOutcome(support::RunGuard& guard)>& body,
                                    support::RunGuard& guard);

// The bounded section of a run: the version banner, or zabbix_server and the
// mode, under a guard of limit that heeds stop_signal. Every way it ends,
// failures and cut-offs included, comes back as the outcome.
support::RunOutcome run_modes(RunSettings& settings, const std::string& program_name, std::chrono::milliseconds limit,
                              const volatile std::sig_atomic_t* stop_signal);

}  // namespace run
