#pragma once
// What the generic mode reads of a whole service, in typed form: each part's
// members as the BMC publishes them, and every sensor row with its list, name,
// reading and Status. A member the BMC does not publish, or publishes as null
// or as a value of another kind, is absent (a reading may be null: a sensor
// that cannot be read now).
#include <optional>
#include <string>
#include <vector>

#include "support/json.h"

namespace redfish {

// The words of a Status that the BMC publishes as text.
struct StatusWords {
    std::optional<std::string> health;
    std::optional<std::string> health_rollup;
    std::optional<std::string> state;
};

// The members of one part (the storage, the power control, the total power,
// the peak power) that its items come from.
enum class Member {
    Name,
    Reading,
    RangeMax,
    RangeMin,
    IntervalInMin,
    LowerCaution,
    UpperCaution,
    LowerCritical,
    UpperCritical,
    Health,
    HealthRollup,
    State,
};

struct PartReading {
    std::optional<std::string> name;
    std::optional<support::Json> reading;  // Reading; the power control's PowerConsumedWatts
    std::optional<support::Json> range_max, range_min, interval_in_min;
    std::optional<support::Json> lower_caution, upper_caution, lower_critical, upper_critical;
    StatusWords status;
};

// The member of a part as published: text words as text, numbers as they came.
std::optional<support::Json> published(const PartReading& part, Member member);

enum class Unit { Volts, Celsius, Rpm, Percent };

struct SensorReading {
    std::string name;  // unique within its list
    std::optional<support::Json> reading;
    Unit unit;
    StatusWords status;
};

struct ServiceReading {
    PartReading storage, power_control, total_power, peak_power;
    std::vector<SensorReading> voltages, fans, temperatures;
};

}  // namespace redfish
