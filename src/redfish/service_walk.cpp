#include "redfish/service_walk.h"

#include <algorithm>
#include <string_view>

#include "redfish/json_members.h"
#include "redfish/power_rules.h"
#include "redfish/readers.h"
#include "redfish/service_links.h"
#include "redfish/service_rules.h"

namespace redfish {
namespace {

using support::Json;

constexpr std::string_view kOldChassis = "/redfish/v1/Chassis/chassis";

// An expanded member carries more than its @odata.id.
bool whole(const Json& entry) { return entry.is_object() && entry.size() > 1; }

// The members an expanded collection carries whole are kept under their own
// paths, as if each had been asked for.
void keep_expanded_members(DocumentStore& store, const Json* collection) {
    if (collection == nullptr || !collection->is_object()) return;
    const auto members = collection->find("Members");
    if (members == collection->end() || !members->is_array()) return;
    for (const auto& entry : *members) {
        if (!whole(entry) || !entry.contains("@odata.id")) continue;
        if (const auto path = odata_path(entry["@odata.id"])) store.read.emplace(*path, entry);
    }
}

// The collections at paths (empty paths give no members), each asked with
// the $expand query when there is one and plainly when that is refused.
std::vector<const Json*> collections_at(DocumentStore& store, const std::vector<std::string>& paths,
                                        const std::string& expand) {
    std::vector<std::string> asked;
    asked.reserve(paths.size());
    for (const auto& path : paths) asked.push_back(path.empty() ? "" : path + expand);
    std::vector<const Json*> found(paths.size(), nullptr);
    std::vector<std::string> wanted;
    for (const auto& path : asked)
        if (!path.empty()) wanted.push_back(path);
    const auto documents = documents_at(store, wanted);
    std::vector<std::string> again;
    for (std::size_t i = 0, next = 0; i < paths.size(); ++i) {
        if (asked[i].empty()) continue;
        found[i] = documents[next++];
        if (found[i] == nullptr && !expand.empty()) again.push_back(paths[i]);
    }
    if (!again.empty()) {
        (void)documents_at(store, again);
        for (std::size_t i = 0; i < paths.size(); ++i)
            if (found[i] == nullptr && !paths[i].empty()) found[i] = known_document(store, paths[i]);
    }
    for (const Json* collection : found) keep_expanded_members(store, collection);
    return found;
}

// Every member of each collection, as paths whose documents the store now
// holds: from the expanded answers, and the rest fetched in one batch.
std::vector<std::vector<std::string>> members_of(DocumentStore& store, const std::vector<std::string>& paths,
                                                 const std::string& expand) {
    std::vector<std::vector<std::string>> members;
    std::vector<std::string> missing;
    for (const Json* collection : collections_at(store, paths, expand)) {
        members.push_back(member_paths(collection));
        for (const auto& path : members.back())
            if (!store.read.count(path)) missing.push_back(path);
    }
    (void)documents_at(store, missing);
    return members;
}

std::string linked_path(const Json* document, const std::string& name) { return link(document, name).value_or(""); }

// The first system's storage: every member of its Storage, else of its
// SimpleStorage.
std::vector<std::string> storage_paths(DocumentStore& store, const Json* system, const std::string& expand) {
    auto members = members_of(store, {linked_path(system, "Storage")}, expand).front();
    if (!members.empty()) return members;
    return members_of(store, {linked_path(system, "SimpleStorage")}, expand).front();
}

// Each chassis's Power, Thermal and PowerSubsystem, with the other
// documents given (in the same batch); its sensors and ThermalSubsystem/Fans
// where it lacks Power or Thermal.
void read_chassis_resources(DocumentStore& store, std::vector<ChassisView>& chassis, const std::string& expand,
                            std::vector<std::string> paths) {
    for (const auto& one : chassis)
        for (const auto* name : {"Power", "Thermal", "PowerSubsystem"}) paths.push_back(linked_path(one.chassis, name));
    std::erase(paths, "");
    (void)documents_at(store, paths);
    std::vector<std::string> sensors, subsystems;
    for (auto& one : chassis) {
        one.power = known_document(store, linked_path(one.chassis, "Power"));
        one.thermal = known_document(store, linked_path(one.chassis, "Thermal"));
        const bool needs_sensors = one.power == nullptr || one.thermal == nullptr;
        sensors.push_back(needs_sensors ? linked_path(one.chassis, "Sensors") : "");
        subsystems.push_back(one.thermal == nullptr ? linked_path(one.chassis, "ThermalSubsystem") : "");
    }
    auto subsystem_paths = subsystems;
    std::erase(subsystem_paths, "");
    (void)documents_at(store, subsystem_paths);
    std::vector<std::string> fans;
    fans.reserve(subsystems.size());
    for (const auto& path : subsystems)
        fans.push_back(path.empty() ? "" : linked_path(known_document(store, path), "Fans"));
    std::vector<std::string> collections = sensors;
    collections.insert(collections.end(), fans.begin(), fans.end());
    const auto members = members_of(store, collections, expand);
    for (std::size_t i = 0; i < chassis.size(); ++i) {
        chassis[i].sensor_paths = members[i];
        chassis[i].fan_paths = members[chassis.size() + i];
    }
}

// What decides a chassis's total and peak power beyond its own Power: its
// EnvironmentMetrics, its sensor list (without the sensors themselves, when
// they were not needed whole) and the sensors those name.
void read_power_sources(DocumentStore& store, ServiceView& service, const std::vector<std::size_t>& which) {
    std::vector<std::string> first;
    for (const std::size_t index : which) {
        const auto& one = service.chassis[index];
        first.push_back(linked_path(one.chassis, "EnvironmentMetrics"));
        if (one.sensor_paths.empty()) first.push_back(linked_path(one.chassis, "Sensors"));
    }
    std::erase(first, "");
    (void)documents_at(store, first);
    std::vector<std::string> sensors;
    for (const std::size_t index : which) {
        auto& one = service.chassis[index];
        one.environment = known_document(store, linked_path(one.chassis, "EnvironmentMetrics"));
        if (one.sensor_paths.empty())
            one.sensor_paths = member_paths(known_document(store, linked_path(one.chassis, "Sensors")));
        for (auto& path : power_sensor_paths(one)) sensors.push_back(std::move(path));
    }
    (void)documents_at(store, sensors);
}

// The main chassis first; only when it publishes no total power, every other.
void read_total_power(DocumentStore& store, ServiceView& service) {
    if (service.chassis.empty()) return;
    read_power_sources(store, service, {service.main});
    if (publishes_total_power(service.chassis[service.main], store)) return;
    std::vector<std::size_t> others;
    for (std::size_t index = 0; index < service.chassis.size(); ++index)
        if (index != service.main) others.push_back(index);
    read_power_sources(store, service, others);
}

// The paths an array of links names, in order (a Storage member's Drives,
// a system's Links.ManagedBy).
std::vector<std::string> linked_paths(const Json* links) {
    std::vector<std::string> paths;
    if (links == nullptr || !links->is_array()) return paths;
    for (const auto& entry : *links)
        if (const Json* id = member_of(&entry, "@odata.id"))
            if (const auto path = odata_path(*id)) paths.push_back(*path);
    return paths;
}

template <typename Each>
void each_system(const DocumentStore& store, const std::vector<std::string>& systems, Each each) {
    for (const auto& path : systems)
        if (const Json* system = known_document(store, path); system != nullptr && system->is_object()) each(system);
}

// Every system's memory, processors and drives (its Storage members' Drives,
// else its SimpleStorage members, whose Devices are the drives), each
// chassis's PowerSubsystem power supplies, and the first system's manager.
// (The chassis' PowerSubsystem and the manager were read with the chassis'
// resources.)
void read_components(DocumentStore& store, ServiceView& service, const Json* root,
                     const std::vector<std::string>& systems, const std::string& expand) {
    std::vector<std::string> collections;
    each_system(store, systems, [&](const Json* system) {
        for (const auto* name : {"Memory", "Processors", "Storage"}) collections.push_back(linked_path(system, name));
    });
    for (const auto& one : service.chassis)
        collections.push_back(
            linked_path(known_document(store, linked_path(one.chassis, "PowerSubsystem")), "PowerSupplies"));
    collections.push_back(service.manager_path.empty() ? linked_path(root, "Managers") : "");
    const auto members = members_of(store, collections, expand);

    auto& components = service.components;
    std::size_t at = 0;
    std::vector<std::string> simple_storage;
    each_system(store, systems, [&](const Json* system) {
        components.memory.insert(components.memory.end(), members[at].begin(), members[at].end());
        components.processors.insert(components.processors.end(), members[at + 1].begin(), members[at + 1].end());
        for (const auto& path : members[at + 2])
            for (auto& drive : linked_paths(member_of(known_document(store, path), "Drives")))
                components.drives.push_back(std::move(drive));
        if (members[at + 2].empty()) simple_storage.push_back(linked_path(system, "SimpleStorage"));
        at += 3;
    });
    for (auto& one : service.chassis) {
        if (!collections[at].empty()) one.power_supply_paths = members[at];
        ++at;
    }
    if (service.manager_path.empty() && !members[at].empty()) service.manager_path = members[at].front();
    (void)documents_at(store, components.drives);
    for (auto& paths : members_of(store, simple_storage, expand))
        components.simple_storage.insert(components.simple_storage.end(), paths.begin(), paths.end());
}

// Old bmcweb answers the five fixed paths: one chassis with its Power,
// Thermal and the two power sensors, and the storage at Storage/1.
std::optional<ServiceView> fixed_service(DocumentStore& store) {
    for (const auto& reader : kResourceReaders)
        if (document_at(store, std::string(reader.path)) == nullptr) return std::nullopt;
    const auto path = [](HeldDocument document) { return std::string(resource_reader(document).path); };
    ServiceView service;
    service.storage_paths = {path(&Documents::getStorage)};
    ChassisView chassis;
    chassis.path = kOldChassis;
    chassis.power = known_document(store, path(&Documents::getChassiPower));
    chassis.thermal = known_document(store, path(&Documents::getChassiThermal));
    chassis.sensor_paths = {path(&Documents::getChassiTotalPower), path(&Documents::getChassiPeakPower)};
    service.chassis.push_back(std::move(chassis));
    return service;
}

ServiceView walked_service(DocumentStore& store) {
    ServiceView service;
    const Json* root = document_at(store, std::string(kServiceRoot));
    const std::string expand = expand_query(root);
    const auto top = members_of(store, {linked_path(root, "Systems"), linked_path(root, "Chassis")}, expand);
    const Json* system = top[0].empty() ? nullptr : known_document(store, top[0].front());
    service.storage_paths = storage_paths(store, system, expand);
    for (const auto& path : top[1])
        if (const Json* chassis = known_document(store, path); chassis != nullptr && chassis->is_object()) {
            ChassisView view;
            view.path = path;
            view.chassis = chassis;
            service.chassis.push_back(std::move(view));
        }
    service.walked = true;
    service.system_path = top[0].empty() ? "" : top[0].front();
    const auto managers = linked_paths(path_of(system, {"Links", "ManagedBy"}));
    service.manager_path = managers.empty() ? "" : managers.front();
    read_chassis_resources(store, service.chassis, expand, {service.manager_path});
    service.main = main_chassis(system, service.chassis);
    read_total_power(store, service);
    read_components(store, service, root, top[0], expand);
    return service;
}

}  // namespace

ServiceReading read_service(DocumentStore& store) {
    if (const auto fixed = fixed_service(store)) return service_reading(*fixed, store);
    return service_reading(walked_service(store), store);
}

}  // namespace redfish
