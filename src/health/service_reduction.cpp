#include "health/service_reduction.h"

#include <optional>
#include <string>

#include "health/lists.h"
#include "health/reduction.h"

namespace health {
namespace {

using support::Json;

Json taken(const std::optional<Json>& value, Take take) {
    if (!value) return kNotAvailable;
    return take == Take::FlagOk || take == Take::FlagEnabled ? status_flag(*value, take) : *value;
}

Json flag_of(const std::optional<std::string>& word, Take take) {
    return word ? status_flag(*word, take) : kNotAvailable;
}

// A sensor or fan the BMC reports as not there or not in use, such as the
// sensor of an empty slot or socket, has no state to watch: its state flag is
// not published rather than a problem. Its health stays what the BMC says.
bool out_of_service(const redfish::StatusWords& status) {
    return status.state == "Absent" || status.state == "Disabled";
}

SensorRow row_of(const redfish::SensorReading& reading, const DiscoveryList& list) {
    SensorRow row;
    row.name = reading.name;
    row.in_percent = reading.unit == redfish::Unit::Percent && !list.percent_reading.macro.empty();
    if (!reading.reading) row.reading = kNotAvailable;
    else if (list.entries[1].take == Take::Rounded) row.reading = rounded_reading(*reading.reading, reading.name);
    else row.reading = *reading.reading;
    row.health = flag_of(reading.status.health, list.entries[2].take);
    row.state = out_of_service(reading.status) ? kNotAvailable : flag_of(reading.status.state, list.entries[3].take);
    return row;
}

}  // namespace

HealthSnapshot snapshot_of_service(const redfish::ServiceReading& service) {
    HealthSnapshot snapshot;
    for (const auto& group : kGroups) {
        if (const auto* list = discovery_list(group.group)) {
            for (const auto& reading : service.*(list->readings))
                snapshot[list->list].push_back(row_of(reading, *list));
            continue;
        }
        const redfish::PartReading& part = service.*(group.part);
        for (const auto* item : fixed_items(group.group))
            snapshot[item->item] = taken(redfish::published(part, item->member), item->take);
    }
    return snapshot;
}

}  // namespace health
