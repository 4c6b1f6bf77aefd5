#pragma once
// Test input: the captured documents of a healthy OpenBMC machine, and
// discovery rows made by hand.
#include <ostream>
#include <string>

#include "health/lists.h"
#include "health/snapshot.h"
#include "kit/test_bmc.h"
#include "redfish/readers.h"
#include "support/json.h"

namespace health {

inline void PrintTo(const SensorRow& row, std::ostream* out) {
    *out << "{" << row.name << ", " << row.reading << (row.in_percent ? " %" : "") << ", " << row.health << ", "
         << row.state << "}";
}

}  // namespace health

namespace health_test {

inline support::Json healthy(const std::string& name) {
    return support::Json::parse(kit::testdata_bytes("a_healthy/" + name + ".json"));
}

inline redfish::Documents healthy_documents() {
    return {healthy("storage"), healthy("power"), healthy("thermal"), healthy("total_power"), healthy("peak_power")};
}

// A row of a list: name, reading, health flag, state flag.
inline health::SensorRow row(const support::Json& name, const support::Json& reading, const support::Json& health,
                             const support::Json& state, bool in_percent = false) {
    return {name, reading, in_percent, health, state, {}, {}};
}

inline health::SensorRow voltage(const support::Json& name, const support::Json& reading, int health = 1,
                                 int state = 1) {
    return row(name, reading, health, state);
}

inline health::SensorRow fan(const support::Json& name, const support::Json& reading, int health = 1, int state = 1) {
    return row(name, reading, health, state);
}

// A fan read in percent, as the generic mode delivers it.
inline health::SensorRow fan_in_percent(const support::Json& name, const support::Json& reading,
                                        const support::Json& health = 1, const support::Json& state = 1) {
    return row(name, reading, health, state, true);
}

inline health::SensorRow temperature(const support::Json& name, const support::Json& reading, int health = 1,
                                     int state = 1) {
    return row(name, reading, health, state);
}

}  // namespace health_test
