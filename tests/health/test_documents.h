#pragma once
// Test input: the captured documents of a healthy OpenBMC machine, and
// discovery rows made by hand.
#include <string>

#include "health/items.h"
#include "health/snapshot/health_snapshot.h"
#include "kit/test_bmc.h"
#include "redfish/readers.h"
#include "support/json.h"

namespace health_test {

inline support::Json healthy(const std::string& name) {
    return support::Json::parse(kit::testdata_bytes("a_healthy/" + name + ".json"));
}

inline redfish::Documents healthy_documents() {
    return {healthy("storage"), healthy("power"), healthy("thermal"), healthy("total_power"), healthy("peak_power")};
}

// A row of a list with its four entries in order: name, reading, health flag, state flag; the
// list's percent reading in place of its own when in_percent.
inline health::DiscoveryRow row(health::Group group, const support::Json& name, const support::Json& reading,
                                const support::Json& health, const support::Json& state, bool in_percent = false) {
    const support::Json values[] = {name, reading, health, state};
    const auto entries = health::row_entries(*health::discovery_list(group), in_percent);
    health::DiscoveryRow made = support::Json::object();
    for (std::size_t i = 0; i < entries.size(); ++i) made[std::string(entries[i].macro)] = values[i];
    return made;
}

inline health::DiscoveryRow voltage(const support::Json& name, const support::Json& reading, int health = 1,
                                    int state = 1) {
    return row(health::Group::Voltages, name, reading, health, state);
}

inline health::DiscoveryRow fan(const support::Json& name, const support::Json& reading, int health = 1,
                                int state = 1) {
    return row(health::Group::Fans, name, reading, health, state);
}

// A fan read in percent, as the generic mode delivers it.
inline health::DiscoveryRow fan_in_percent(const support::Json& name, const support::Json& reading,
                                           const support::Json& health = 1, const support::Json& state = 1) {
    return row(health::Group::Fans, name, reading, health, state, true);
}

inline health::DiscoveryRow temperature(const support::Json& name, const support::Json& reading, int health = 1,
                                        int state = 1) {
    return row(health::Group::Temperatures, name, reading, health, state);
}

}  // namespace health_test
