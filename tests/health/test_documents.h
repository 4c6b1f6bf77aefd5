#pragma once
// Test input: the captured documents of a healthy OpenBMC machine, and
// discovery rows made by hand.
#include <string>

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

// A row with its four macros in order: name, reading, health flag, state flag.
inline health::DiscoveryRow row(const char* name_macro, const char* reading_macro, const char* health_macro,
                                const char* state_macro, const support::Json& name, const support::Json& reading,
                                int health, int state) {
    health::DiscoveryRow made = support::Json::object();
    made[name_macro] = name;
    made[reading_macro] = reading;
    made[health_macro] = health;
    made[state_macro] = state;
    return made;
}

inline health::DiscoveryRow voltage(const support::Json& name, const support::Json& reading, int health = 1,
                                    int state = 1) {
    return row("{#VOLTAGE_NAME}", "{#READING_VOLTS}", "{#VOLTAGE_HEALTH}", "{#VOLTAGE_STATE}", name, reading, health,
               state);
}

inline health::DiscoveryRow fan(const support::Json& name, const support::Json& reading, int health = 1,
                                int state = 1) {
    return row("{#FAN_NAME}", "{#READING_RPM}", "{#FAN_HEALTH}", "{#FAN_STATE}", name, reading, health, state);
}

inline health::DiscoveryRow temperature(const support::Json& name, const support::Json& reading, int health = 1,
                                        int state = 1) {
    return row("{#TEMP_NAME}", "{#READING_CELSIUS}", "{#TEMP_HEALTH}", "{#TEMP_STATE}", name, reading, health,
               state);
}

}  // namespace health_test
