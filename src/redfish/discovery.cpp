#include "redfish/discovery.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "redfish/session.h"
#include "support/console.h"

namespace redfish {
namespace {

using support::Json;

constexpr std::string_view kServiceRoot = "/redfish/v1";
// bmcweb's Power resource names its one PowerControl entry so.
constexpr std::string_view kPowerControlName = "Chassis Power Control";

const Json* member_of(const Json* value, std::string_view name) {
    if (value == nullptr || !value->is_object()) return nullptr;
    const auto found = value->find(std::string(name));
    return found == value->end() ? nullptr : &*found;
}

std::optional<std::string> link(const Json* document, std::string_view name) {
    const Json* linked = member_of(document, name);
    const Json* id = member_of(linked, "@odata.id");
    if (id == nullptr) return std::nullopt;
    return odata_path(*id);
}

const Json* get(Discovery& discovery, const std::string& path) {
    auto cached = discovery.fetched.find(path);
    if (cached == discovery.fetched.end())
        cached =
            discovery.fetched.emplace(path, fetch_document(*discovery.access, path, discovery.token).document).first;
    return cached->second ? &*cached->second : nullptr;
}

const Json* service_root(Discovery& discovery) { return get(discovery, std::string(kServiceRoot)); }

const Json* linked_document(Discovery& discovery, const Json* document, std::string_view name) {
    const auto path = link(document, name);
    return path ? get(discovery, *path) : nullptr;
}

// One entry of a collection's Members: the path it links to and the entry
// itself, which an expanded answer fills with the whole member.
struct Listed {
    std::string path;
    const Json* entry;
};

std::vector<Listed> listed_members(const Json* collection) {
    std::vector<Listed> listed;
    const Json* members = member_of(collection, "Members");
    if (members == nullptr || !members->is_array()) return listed;
    for (const auto& entry : *members)
        if (const Json* id = member_of(&entry, "@odata.id"))
            if (auto path = odata_path(*id)) listed.push_back({std::move(*path), &entry});
    return listed;
}

std::vector<std::string> member_paths(const Json* collection) {
    std::vector<std::string> paths;
    for (auto& listed : listed_members(collection)) paths.push_back(std::move(listed.path));
    return paths;
}

std::string last_segment(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "?$expand=..." when the service root announces expansion, else empty.
std::string expand_query(Discovery& discovery) {
    const Json* query = member_of(member_of(service_root(discovery), "ProtocolFeaturesSupported"), "ExpandQuery");
    const auto says_yes = [&](std::string_view name) {
        const Json* flag = member_of(query, name);
        return flag != nullptr && flag->is_boolean() && flag->get<bool>();
    };
    std::string how = says_yes("NoLinks") ? "." : says_yes("ExpandAll") ? "*" : "";
    if (how.empty()) return "";
    if (says_yes("Levels")) how += "($levels=1)";
    return "?$expand=" + how;
}

// An expanded member carries more than its @odata.id.
bool whole(const Json& entry) { return entry.is_object() && entry.size() > 1; }

// The members of a collection that were already read whole, if they were.
const std::vector<Member>* known_members(const Discovery& discovery, const std::string& collection_path) {
    const auto cached = discovery.expanded_members.find(collection_path);
    return cached != discovery.expanded_members.end() && cached->second ? &*cached->second : nullptr;
}

// Every member of a collection as a document: from one expanded answer when
// the BMC expands, member by member otherwise (and for any member an expanded
// answer left as a bare link). No value when the collection is refused.
const std::vector<Member>* members_of(Discovery& discovery, const std::string& collection_path) {
    auto cached = discovery.expanded_members.find(collection_path);
    if (cached != discovery.expanded_members.end()) return cached->second ? &*cached->second : nullptr;
    const std::string query = expand_query(discovery);
    const Json* collection = query.empty() ? nullptr : get(discovery, collection_path + query);
    if (collection == nullptr) collection = get(discovery, collection_path);
    std::optional<std::vector<Member>> members;
    if (collection != nullptr) {
        members.emplace();
        for (const auto& [path, entry] : listed_members(collection)) {
            if (whole(*entry)) members->push_back({path, *entry});
            else if (const Json* document = get(discovery, path)) members->push_back({path, *document});
        }
    }
    const auto& stored = discovery.expanded_members.emplace(collection_path, std::move(members)).first->second;
    return stored ? &*stored : nullptr;
}

const Json* first_system(Discovery& discovery) {
    const Json* systems = linked_document(discovery, service_root(discovery), "Systems");
    const auto paths = member_paths(systems);
    return paths.empty() ? nullptr : get(discovery, paths.front());
}

const Json* sensor_chassis(Discovery& discovery) {
    const Json* chassis = linked_document(discovery, service_root(discovery), "Chassis");
    for (const auto& path : member_paths(chassis)) {
        const Json* one = get(discovery, path);
        if (link(one, "Sensors")) return one;
    }
    return nullptr;
}

const std::vector<Member>* sensors(Discovery& discovery) {
    const auto path = link(sensor_chassis(discovery), "Sensors");
    return path ? members_of(discovery, *path) : nullptr;
}

const std::vector<Member>* fans(Discovery& discovery) {
    const Json* thermal = linked_document(discovery, sensor_chassis(discovery), "ThermalSubsystem");
    const auto path = link(thermal, "Fans");
    return path ? members_of(discovery, *path) : nullptr;
}

std::optional<Json> copied(const Json* document) {
    if (document == nullptr) return std::nullopt;
    return *document;
}

std::optional<Json> storage_document(Discovery& discovery, const ResourceReader&) {
    const Json* storage = linked_document(discovery, first_system(discovery), "Storage");
    const auto paths = member_paths(storage);
    return paths.empty() ? std::nullopt : copied(get(discovery, paths.front()));
}

// The chassis's own resource of that name when it links one, else none.
std::optional<Json> chassis_resource(Discovery& discovery, const ResourceReader& reader, std::string_view name) {
    const auto path = link(sensor_chassis(discovery), name);
    if (!path || *path == reader.path) return std::nullopt;
    return copied(get(discovery, *path));
}

std::optional<Json> power_document(Discovery& discovery, const ResourceReader& reader) {
    if (auto linked = chassis_resource(discovery, reader, "Power")) return linked;
    const auto* found = sensors(discovery);
    if (found == nullptr) return std::nullopt;
    return assembled_power(*found);
}

std::optional<Json> thermal_document(Discovery& discovery, const ResourceReader& reader) {
    if (auto linked = chassis_resource(discovery, reader, "Thermal")) return linked;
    const auto* found_sensors = sensors(discovery);
    const auto* found_fans = fans(discovery);
    if (found_sensors == nullptr && found_fans == nullptr) return std::nullopt;
    return assembled_thermal(found_sensors ? *found_sensors : std::vector<Member>{},
                             found_fans ? *found_fans : std::vector<Member>{});
}

// A sensor under the name bmcweb gives it now (power_<name>) or gave it
// before, in the chassis that holds the sensors. When the members were
// already read whole they are used; otherwise only that sensor is asked for.
std::optional<Json> sensor_document(Discovery& discovery, const ResourceReader& reader) {
    const std::string old_id = last_segment(std::string(reader.path));
    const auto sensors_path = link(sensor_chassis(discovery), "Sensors");
    if (!sensors_path) return std::nullopt;
    const auto* known = known_members(discovery, *sensors_path);
    for (const std::string& id : {"power_" + old_id, old_id}) {
        if (known != nullptr) {
            for (const auto& member : *known)
                if (last_segment(member.path) == id) return member.document;
            continue;
        }
        for (const auto& path : member_paths(get(discovery, *sensors_path)))
            if (last_segment(path) == id && path != reader.path) return copied(get(discovery, path));
    }
    return std::nullopt;
}

struct Fallback {
    std::optional<Json> Documents::*held_as;
    std::optional<Json> (*find)(Discovery&, const ResourceReader&);
};

constexpr Fallback kFallbacks[] = {
    {&Documents::getStorage, storage_document},        {&Documents::getChassiPower, power_document},
    {&Documents::getChassiThermal, thermal_document},  {&Documents::getChassiTotalPower, sensor_document},
    {&Documents::getChassiPeakPower, sensor_document},
};

std::string_view reading_type(const Json& sensor) {
    const Json* type = member_of(&sensor, "ReadingType");
    return type != nullptr && type->is_string() ? std::string_view(type->get_ref<const std::string&>()) : "";
}

// Name, the reading under the member name the old resource used, Status:
// each only when the source has it.
Json element(const Json& source, const Json* reading, std::string_view reading_name) {
    Json made = Json::object();
    if (const Json* name = member_of(&source, "Name")) made["Name"] = *name;
    if (reading != nullptr) made[std::string(reading_name)] = *reading;
    if (const Json* status = member_of(&source, "Status")) made["Status"] = *status;
    return made;
}

Json sorted_by_name(Json elements) {
    const auto key = [](const Json& entry) {
        const Json* name = member_of(&entry, "Name");
        return name != nullptr && name->is_string() ? std::make_pair(0, name->get<std::string>())
                                                    : std::make_pair(1, std::string());
    };
    std::stable_sort(elements.begin(), elements.end(), [&](const Json& a, const Json& b) { return key(a) < key(b); });
    return elements;
}

Json sensors_of_type(const std::vector<Member>& sensors, std::string_view type, std::string_view reading_name) {
    Json elements = Json::array();
    for (const auto& sensor : sensors)
        if (reading_type(sensor.document) == type)
            elements.push_back(element(sensor.document, member_of(&sensor.document, "Reading"), reading_name));
    return sorted_by_name(std::move(elements));
}

// bmcweb's Thermal resource wrote fan readings as integers (it cast them to
// int64); a fan resource's SpeedRPM is a real. Whole-number-or-not, the
// reading is cut to an integer as before, so both kinds of firmware give the
// same values; null stays null.
Json fan_reading_value(const Json& reading) {
    if (!reading.is_number_float()) return reading;
    const double value = reading.get<double>();
    constexpr double kLimit = 9.2e18;
    if (!std::isfinite(value) || std::fabs(value) >= kLimit) return reading;
    return static_cast<std::int64_t>(value);
}

std::optional<Json> fan_reading(const Json& fan) {
    const Json* percent = member_of(&fan, "SpeedPercent");
    const Json* candidates[] = {member_of(percent, "SpeedRPM"), member_of(&fan, "SpeedRPM"),
                                member_of(percent, "Reading")};
    for (const Json* candidate : candidates)
        if (candidate != nullptr && candidate->is_number()) return fan_reading_value(*candidate);
    for (const Json* candidate : candidates)
        if (candidate != nullptr) return *candidate;
    return std::nullopt;
}

}  // namespace

Json assembled_power(const std::vector<Member>& sensors) {
    Json control = Json::array();
    for (const auto& sensor : sensors) {
        const std::string id = last_segment(sensor.path);
        if (reading_type(sensor.document) != "Power" || (id != "power_total_power" && id != "total_power")) continue;
        Json entry = element(sensor.document, member_of(&sensor.document, "Reading"), "PowerConsumedWatts");
        entry["Name"] = kPowerControlName;
        control.push_back(std::move(entry));
    }
    return {{"Name", "Power"},
            {"PowerControl", control},
            {"Voltages", sensors_of_type(sensors, "Voltage", "ReadingVolts")}};
}

Json assembled_thermal(const std::vector<Member>& sensors, const std::vector<Member>& fans) {
    Json fan_elements = Json::array();
    for (const auto& fan : fans) {
        const auto reading = fan_reading(fan.document);
        fan_elements.push_back(element(fan.document, reading ? &*reading : nullptr, "Reading"));
    }
    return {{"Name", "Thermal"},
            {"Fans", sorted_by_name(std::move(fan_elements))},
            {"Temperatures", sensors_of_type(sensors, "Temperature", "ReadingCelsius")}};
}

Discovery start_discovery(const BmcAccess& access, const std::string& token) {
    Discovery discovery;
    discovery.access = &access;
    discovery.token = token;
    return discovery;
}

std::optional<Json> find_document(Discovery& discovery, const ResourceReader& reader) {
    auto fixed = fetch_document(*discovery.access, reader.path, discovery.token);
    if (fixed.document) return std::move(fixed.document);
    for (const auto& fallback : kFallbacks) {
        if (fallback.held_as != reader.held_as) continue;
        if (auto found = fallback.find(discovery, reader)) return found;
    }
    support::print_line(reader.failure_line);
    return std::nullopt;
}

}  // namespace redfish
