#pragma once
// HealthSnapshot: every value one run delivers. Fixed items stay JSON values
// of the kind the BMC sent ("N/A" text for an absent member); flags are the
// integers 0 and 1, and in the generic mode "N/A" where the BMC publishes no
// Status word. The rows of the discovery lists are typed.
#include <array>
#include <vector>

#include "health/items.h"
#include "support/json.h"

namespace health {

enum class List { Voltages, Fans, Temperatures, PowerSupplies, Memory, Processors, Drives };
inline constexpr std::size_t kListCount = 7;

// One row of a discovery list: its name, its reading as delivered (rounded
// volts or Celsius, a fan's speed, or "N/A"), and its health and state (flags
// for a sensor, the BMC's words for a component); a processor's kind and a
// drive's predicted failure ("true", "false" or "N/A").
struct SensorRow {
    support::Json name;
    support::Json reading;
    bool in_percent = false;  // a fan's speed in percent, never delivered as RPM
    support::Json health;
    support::Json state;
    support::Json kind;
    support::Json failure_predicted;

    bool operator==(const SensorRow&) const = default;
};

// What stands for a value the BMC does not publish.
inline const support::Json kNotAvailable = "N/A";

// An item's value before anything is read: 0 for a flag, "N/A" otherwise.
support::Json default_value(Take take);

std::array<support::Json, kItemCount> default_values();

struct HealthSnapshot {
    // Whether the groups of the whole server were read (kGroups' whole_server).
    bool whole_server = false;
    std::array<support::Json, kItemCount> values = default_values();
    std::array<std::vector<SensorRow>, kListCount> lists;

    support::Json& operator[](Item item) { return values[static_cast<std::size_t>(item)]; }
    const support::Json& operator[](Item item) const { return values[static_cast<std::size_t>(item)]; }
    std::vector<SensorRow>& operator[](List list) { return lists[static_cast<std::size_t>(list)]; }
    const std::vector<SensorRow>& operator[](List list) const { return lists[static_cast<std::size_t>(list)]; }
};

}  // namespace health
