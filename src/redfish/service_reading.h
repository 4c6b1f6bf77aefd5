#pragma once
// What the generic mode reads of a whole service, in typed form: each part's
// members as the BMC publishes them, every sensor row with its list, name,
// reading and Status, and every component (power supply, memory module,
// processor, drive) with its name and Status. A member the BMC does not publish, or publishes as null
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
// the peak power, the system) that its items come from.
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
    Conditions,
    Manufacturer,
    Model,
    SerialNumber,
    PartNumber,
    Sku,
    BiosVersion,
    FirmwareVersion,
};

struct PartReading {
    std::optional<std::string> name;
    std::optional<support::Json> reading;  // Reading; the power control's PowerConsumedWatts
    std::optional<support::Json> range_max, range_min, interval_in_min;
    std::optional<support::Json> lower_caution, upper_caution, lower_critical, upper_critical;
    StatusWords status;
    // The system's: its Status.Conditions as text, its inventory and the
    // firmware version of the manager that manages it.
    std::optional<std::string> conditions;
    std::optional<std::string> manufacturer, model, serial_number, part_number, sku, bios_version, firmware_version;
};

// The member of a part as published: text words as text, numbers as they came.
std::optional<support::Json> published(const PartReading& part, Member member);

enum class Unit { None, Volts, Celsius, Rpm, Percent };

// One row of a list: a sensor with its reading, or a component.
struct SensorReading {
    std::string name;  // unique within its list
    std::optional<support::Json> reading;
    Unit unit = Unit::None;
    StatusWords status;
    std::optional<std::string> kind;        // a processor's ProcessorType
    std::optional<bool> failure_predicted;  // a drive's FailurePredicted
};

struct ServiceReading {
    PartReading storage, power_control, total_power, peak_power;
    std::vector<SensorReading> voltages, fans, temperatures;
    // The whole server, read where the service is walked from its root (not
    // on firmware that answers the five fixed paths, which is read as the
    // main mode reads it).
    bool whole_server = false;
    PartReading system;
    std::vector<SensorReading> power_supplies, memory, processors, drives;
};

}  // namespace redfish
