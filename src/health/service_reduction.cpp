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

// A Status word as its entry takes it: a flag, or the word itself.
Json word_of(const std::optional<std::string>& word, const RowEntry* entry) {
    if (!word || entry == nullptr) return kNotAvailable;
    return entry->take == Take::Value ? Json(*word) : status_flag(*word, entry->take);
}

// A sensor or fan the BMC reports as not there or not in use, such as the
// sensor of an empty slot or socket, has no state to watch: its state flag is
// not published rather than a problem. Its health stays what the BMC says.
bool out_of_service(const redfish::StatusWords& status) {
    return status.state == "Absent" || status.state == "Disabled";
}

Json reading_of(const redfish::SensorReading& reading, const RowEntry* entry) {
    if (!reading.reading || entry == nullptr) return kNotAvailable;
    if (entry->take == Take::Rounded) return rounded_reading(*reading.reading, reading.name);
    return *reading.reading;
}

// The entries of a list that take each member of a row, found once per list.
struct RowTakes {
    const RowEntry *reading, *health, *state, *kind, *failure_predicted;
};

RowTakes takes_of(const DiscoveryList& list) {
    return {entry_for(list, &SensorRow::reading), entry_for(list, &SensorRow::health),
            entry_for(list, &SensorRow::state), entry_for(list, &SensorRow::kind),
            entry_for(list, &SensorRow::failure_predicted)};
}

SensorRow row_of(const redfish::SensorReading& reading, const DiscoveryList& list, const RowTakes& takes) {
    SensorRow row;
    row.name = reading.name;
    row.in_percent = reading.unit == redfish::Unit::Percent && !list.percent_reading.macro.empty();
    row.reading = reading_of(reading, takes.reading);
    row.health = word_of(reading.status.health, takes.health);
    const bool flag = takes.state != nullptr && takes.state->take != Take::Value;
    row.state = flag && out_of_service(reading.status) ? kNotAvailable : word_of(reading.status.state, takes.state);
    if (takes.kind != nullptr) row.kind = reading.kind ? Json(*reading.kind) : kNotAvailable;
    if (takes.failure_predicted != nullptr)
        row.failure_predicted =
            reading.failure_predicted ? Json(*reading.failure_predicted ? "true" : "false") : kNotAvailable;
    return row;
}

}  // namespace

HealthSnapshot snapshot_of_service(const redfish::ServiceReading& service) {
    HealthSnapshot snapshot;
    snapshot.whole_server = service.whole_server;
    for (const auto& group : kGroups) {
        if (group.whole_server && !service.whole_server) continue;
        if (const auto* list = discovery_list(group.group)) {
            const RowTakes takes = takes_of(*list);
            for (const auto& reading : service.*(list->readings))
                snapshot[list->list].push_back(row_of(reading, *list, takes));
            continue;
        }
        const redfish::PartReading& part = service.*(group.part);
        for (const auto* item : fixed_items(group.group))
            snapshot[item->item] = taken(redfish::published(part, item->member), item->take);
    }
    return snapshot;
}

}  // namespace health
