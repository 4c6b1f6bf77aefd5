#include "run/fleet_settings.h"

#include <cstdlib>
#include <string>

#include "support/failure.h"
#include "support/shown_text.h"

namespace run {
namespace {

struct Bound {
    const char* name;
    unsigned long long least;
    unsigned long long most;
};

constexpr Bound kInterval{"BMC_PROBE_FLEET_INTERVAL", 1, 86400};
constexpr Bound kRuns{"BMC_PROBE_FLEET_RUNS", 1, 10000};
constexpr Bound kBacklog{"BMC_PROBE_FLEET_BACKLOG", 1, 100000000};

unsigned long long number_of(const Bound& bound, unsigned long long fallback) {
    const char* text = std::getenv(bound.name);
    if (text == nullptr || *text == '\0') return fallback;
    const std::string value(text);
    const bool digits = value.find_first_not_of("0123456789") == std::string::npos && value.size() <= 12;
    const unsigned long long number = digits ? std::stoull(value) : 0;
    if (!digits || number < bound.least || number > bound.most)
        throw support::Failure(support::FailureKind::InvalidSetting,
                               std::string(bound.name) + "=" + support::shown_text(value) +
                                   ": not a whole number from " + std::to_string(bound.least) + " to " +
                                   std::to_string(bound.most));
    return number;
}

}  // namespace

FleetSettings fleet_settings() {
    const FleetSettings defaults;
    FleetSettings settings;
    settings.interval = std::chrono::seconds(number_of(kInterval, static_cast<unsigned long long>(defaults.interval.count())));
    settings.max_runs = number_of(kRuns, defaults.max_runs);
    settings.backlog_values = number_of(kBacklog, defaults.backlog_values);
    return settings;
}

}  // namespace run
