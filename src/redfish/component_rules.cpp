#include "redfish/component_rules.h"

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "redfish/json_members.h"
#include "redfish/sensor_rules.h"

namespace redfish {
namespace {

using support::Json;

// A component as found: its document or array entry, and where.
struct Found {
    const Json* source;
    std::string where;  // its path, or the array entry's @odata.id or place
};

std::vector<Found> documents(const std::vector<std::string>& paths, const DocumentStore& store) {
    std::vector<Found> found;
    found.reserve(paths.size());
    for (const auto& path : paths) found.push_back({known_document(store, path), path});
    return found;
}

void append_entries(std::vector<Found>& found, const Json* array, const std::string& where) {
    if (array == nullptr || !array->is_array()) return;
    for (std::size_t index = 0; index < array->size(); ++index) {
        const Json& entry = (*array)[index];
        const auto id = text_of(member_of(&entry, "@odata.id"));
        found.push_back({&entry, id ? *id : where + "/" + std::to_string(index)});
    }
}

std::optional<bool> flag_of(const Json* value) {
    if (value == nullptr || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

// The rows in the order found. Names are made unique over every slot, the
// empty ones included, so that a module put into an empty slot does not
// rename the rows beside it; the empty slots are then left out.
std::vector<SensorReading> rows_of(const std::vector<Found>& found) {
    std::vector<SensorReading> rows;
    std::vector<std::string> names, ids;
    std::set<std::string> seen;
    for (const auto& [source, where] : found) {
        if (source == nullptr || !source->is_object() || !seen.insert(where).second) continue;
        SensorReading row;
        row.name = row_name(*source, where);
        row.status = status_of(source);
        row.kind = text_of(member_of(source, "ProcessorType"));
        row.failure_predicted = flag_of(member_of(source, "FailurePredicted"));
        names.push_back(row.name);
        ids.push_back(row_id(*source, where));
        rows.push_back(std::move(row));
    }
    make_names_unique(names, ids);
    std::vector<SensorReading> present;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].status.state == "Absent") continue;
        rows[i].name = std::move(names[i]);
        present.push_back(std::move(rows[i]));
    }
    return present;
}

std::vector<Found> power_supplies(const ServiceView& service, const DocumentStore& store) {
    std::vector<Found> found;
    for (const auto& chassis : service.chassis) {
        if (chassis.power_supply_paths) {
            const auto members = documents(*chassis.power_supply_paths, store);
            found.insert(found.end(), members.begin(), members.end());
        } else {
            append_entries(found, member_of(chassis.power, "PowerSupplies"), chassis.path + "/Power#/PowerSupplies");
        }
    }
    return found;
}

std::vector<Found> drives(const ComponentPaths& paths, const DocumentStore& store) {
    auto found = documents(paths.drives, store);
    for (const auto& path : paths.simple_storage)
        append_entries(found, member_of(known_document(store, path), "Devices"), path + "#/Devices");
    return found;
}

// One line per condition: "<Severity>: <Message>", the message alone when no
// severity is given, the MessageId where there is no message.
std::optional<std::string> conditions_of(const Json* status) {
    const Json* conditions = member_of(status, "Conditions");
    if (conditions == nullptr || !conditions->is_array()) return std::nullopt;
    std::string text;
    for (const auto& condition : *conditions) {
        auto message = text_of(member_of(&condition, "Message"));
        if (!message) message = text_of(member_of(&condition, "MessageId"));
        if (!message) continue;
        const auto severity = text_of(member_of(&condition, "Severity"));
        if (!text.empty()) text += '\n';
        text += severity ? *severity + ": " + *message : *message;
    }
    return text;
}

}  // namespace

PartReading system_part(const ServiceView& service, const DocumentStore& store) {
    PartReading system;
    const Json* found = known_document(store, service.system_path);
    if (found == nullptr || !found->is_object()) return system;
    system.status = status_of(found);
    system.conditions = conditions_of(member_of(found, "Status"));
    const std::pair<std::optional<std::string> PartReading::*, std::string_view> kInventory[] = {
        {&PartReading::manufacturer, "Manufacturer"},
        {&PartReading::model, "Model"},
        {&PartReading::serial_number, "SerialNumber"},
        {&PartReading::part_number, "PartNumber"},
        {&PartReading::sku, "SKU"},
        {&PartReading::bios_version, "BiosVersion"},
    };
    for (const auto& [held, member] : kInventory) system.*held = text_of(member_of(found, member));
    system.firmware_version = text_of(member_of(known_document(store, service.manager_path), "FirmwareVersion"));
    return system;
}

ComponentLists component_lists(const ServiceView& service, const DocumentStore& store) {
    return {rows_of(power_supplies(service, store)), rows_of(documents(service.components.memory, store)),
            rows_of(documents(service.components.processors, store)), rows_of(drives(service.components, store))};
}

}  // namespace redfish
