#pragma once
// Where each captured Redfish service of tests/testdata/redfish-mockups keeps
// the items, read from its files: the document and member the total power
// lives in (and the sensor its limits come from), the peak's, the storage's
// worst Status words ("" where no member publishes the word), how many rows
// each list has, and how many of them stand for an empty slot. The tests read the values themselves from the files.
#include <cstddef>
#include <ostream>
#include <string>

#include "bmc-sim/scenario.h"
#include "support/json.h"

namespace kit {

struct CaptureFacts {
    std::string name;
    std::string total_path, total_member, limits_path;  // total_member "PowerControl": its first entry's watts
    std::string peak_path;                              // a Power resource; empty: the capture has no peak
    std::string health, rollup, state;
    std::size_t voltages, fans, temperatures, fans_in_percent;
    std::size_t out_of_service;  // rows whose element is Absent or Disabled: the sensors of empty slots
};

inline const CaptureFacts kCaptureFacts[] = {
    {"dmtf-public-rackmount1", "/redfish/v1/Chassis/1U/EnvironmentMetrics", "PowerWatts.Reading",
     "/redfish/v1/Chassis/1U/Sensors/TotalPower", "/redfish/v1/Chassis/1U/Power", "OK", "Warning", "Enabled", 2, 2, 3,
     0, 1},
    {"dell-idrac9-poweredge-r750", "/redfish/v1/Chassis/System.Embedded.1/Power", "PowerControl", "",
     "/redfish/v1/Chassis/System.Embedded.1/Power", "OK", "OK", "Enabled", 49, 6, 5, 0, 0},
    {"hpe-ilo5-dl385-gen10plus-v2", "/redfish/v1/Chassis/1/Power", "PowerControl", "", "/redfish/v1/Chassis/1/Power",
     "Critical", "OK", "Enabled", 0, 6, 53, 6, 6},
    {"lenovo-xcc-sr670-v2", "/redfish/v1/Chassis/1/EnvironmentMetrics", "PowerWatts.Reading",
     "/redfish/v1/Chassis/1/Sensors/205L0", "/redfish/v1/Chassis/1/Power", "OK", "OK", "Enabled", 4, 10, 21, 0, 7},
    {"nvidia-gb200-openbmc", "/redfish/v1/Chassis/Chassis_0/EnvironmentMetrics", "PowerWatts.Reading",
     "/redfish/v1/Chassis/Chassis_0/Sensors/Chassis_0_TotalHSC_Power_0", "", "OK", "OK", "Enabled", 12, 18, 40, 6, 5},
};

// For failure messages, and as a test's name (letters and digits only).
inline void PrintTo(const CaptureFacts& facts, std::ostream* out) { *out << facts.name; }
std::string test_name_of(const CaptureFacts& facts);

bmc_sim::Scenario capture_scenario(const std::string& name);

// A member of the document the scenario serves at path ("A.B" for nested
// members; empty for the whole document); null when it holds none there.
support::Json held_at(const bmc_sim::Scenario& scenario, const std::string& path, const std::string& members = "");

// The capture's total power and its peak, read where the facts say they live
// (null for a peak the capture does not have).
support::Json held_total_power(const bmc_sim::Scenario& scenario, const CaptureFacts& facts);
support::Json held_peak_power(const bmc_sim::Scenario& scenario, const CaptureFacts& facts);

}  // namespace kit
