#pragma once
// HealthSnapshot: every value one run extracts from the five documents.
// Values stay JSON values of the kind the BMC sent ("N/A" text for an absent
// member); flags are the integers 0 and 1, and in the generic mode "N/A"
// where the BMC publishes no Status word.
#include <vector>

#include "support/json.h"

namespace health {

// One row of a low-level-discovery list: an object of four members, LLD macro
// to value, in the order name, reading, health flag, state flag.
using DiscoveryRow = support::Json;

struct HealthSnapshot {
    support::Json storageName = "N/A";
    support::Json storageHealth = 0;
    support::Json storageHealthRollup = 0;
    support::Json storageState = 0;
    support::Json PowerControlName = "N/A";
    support::Json PowerControlConsumedWatts = "N/A";
    support::Json PowerControlHealth = 0;
    support::Json PowerControlState = 0;
    std::vector<DiscoveryRow> discoveryChassiPower;
    std::vector<DiscoveryRow> discoveryChassiThermalFan;
    std::vector<DiscoveryRow> discoveryChassiThermalTemp;
    support::Json totalPower = "N/A";
    support::Json totalPowerMax = "N/A";
    support::Json totalPowerMin = "N/A";
    support::Json totalPowerStatus = 0;
    support::Json totalPowerState = 0;
    support::Json totalPowerThresholdLowerCritical = "N/A";
    support::Json totalPowerThresholdUpperCritical = "N/A";
    support::Json peakPower = "N/A";
    support::Json peakPowerIntervalInMin = "N/A";  // shown in the report only
    support::Json peakPowerThresholdLowerCaution = "N/A";
    support::Json peakPowerThresholdUpperCaution = "N/A";
    support::Json peakPowerThresholdLowerCritical = "N/A";
    support::Json peakPowerThresholdUpperCritical = "N/A";
    support::Json peakPowerStatus = 0;
    support::Json peakPowerState = 0;
};

}  // namespace health
