#include "redfish/power_rules.h"

#include <optional>
#include <set>

#include "redfish/json_members.h"
#include "redfish/service_links.h"

namespace redfish {
namespace {

using support::Json;

const std::set<std::string> kTotalPowerIds = {"power_total_power", "total_power"};
const std::set<std::string> kPeakPowerIds = {"power_PEAK_POWER", "PEAK_POWER"};

std::optional<std::string> listed_sensor(const ChassisView& chassis, const std::set<std::string>& ids) {
    for (const auto& path : chassis.sensor_paths)
        if (ids.count(last_segment(path))) return path;
    return std::nullopt;
}

const Json* openbmc_sensor(const ChassisView& chassis, const DocumentStore& store, const std::set<std::string>& ids) {
    const auto path = listed_sensor(chassis, ids);
    const Json* sensor = path ? known_document(store, *path) : nullptr;
    return sensor != nullptr && sensor->is_object() ? sensor : nullptr;
}

const Json* first_power_control(const ChassisView& chassis) {
    const Json* controls = member_of(chassis.power, "PowerControl");
    if (controls == nullptr || !controls->is_array() || controls->empty() || !controls->front().is_object())
        return nullptr;
    return &controls->front();
}

const Json* environment_power(const ChassisView& chassis) { return member_of(chassis.environment, "PowerWatts"); }

// Where a total power came from: its value, the sensor that gives its range,
// limits and status, and the PowerControl entry when it gave the value.
struct TotalPower {
    std::size_t chassis = 0;
    Json value;
    const Json* sensor = nullptr;
    const Json* control = nullptr;
};

std::optional<TotalPower> total_power_of(const ChassisView& chassis, std::size_t index, const DocumentStore& store) {
    if (const Json* watts = environment_power(chassis); is_number(member_of(watts, "Reading"))) {
        const std::string source = data_source(watts);
        const Json* sensor = source.empty() ? nullptr : known_document(store, source);
        return TotalPower{index, *member_of(watts, "Reading"),
                          sensor != nullptr && sensor->is_object() ? sensor : nullptr, nullptr};
    }
    // bmcweb builds its PowerControl entry from the total-power sensor, which
    // therefore gives the range, limits and status.
    if (const Json* control = first_power_control(chassis); is_number(member_of(control, "PowerConsumedWatts")))
        return TotalPower{index, *member_of(control, "PowerConsumedWatts"),
                          openbmc_sensor(chassis, store, kTotalPowerIds), control};
    if (const Json* sensor = openbmc_sensor(chassis, store, kTotalPowerIds); is_number(member_of(sensor, "Reading")))
        return TotalPower{index, *member_of(sensor, "Reading"), sensor, nullptr};
    return std::nullopt;
}

std::optional<TotalPower> total_power(const ServiceView& service, const DocumentStore& store) {
    if (service.chassis.empty()) return std::nullopt;
    if (auto found = total_power_of(service.chassis[service.main], service.main, store)) return found;
    for (std::size_t index = 0; index < service.chassis.size(); ++index)
        if (index != service.main)
            if (auto found = total_power_of(service.chassis[index], index, store)) return found;
    return std::nullopt;
}

// A sensor's name, readings, limits and status, each as published.
PartReading sensor_part(const Json* sensor) {
    const auto limit = [&](const char* name) { return reading_of(path_of(sensor, {"Thresholds", name, "Reading"})); };
    PartReading part;
    part.name = text_of(member_of(sensor, "Name"));
    part.reading = reading_of(member_of(sensor, "Reading"));
    part.range_max = reading_of(member_of(sensor, "ReadingRangeMax"));
    part.range_min = reading_of(member_of(sensor, "ReadingRangeMin"));
    part.lower_caution = limit("LowerCaution");
    part.upper_caution = limit("UpperCaution");
    part.lower_critical = limit("LowerCritical");
    part.upper_critical = limit("UpperCritical");
    part.status = status_of(sensor);
    return part;
}

PartReading total_power_part(const std::optional<TotalPower>& total) {
    if (!total) return {};
    PartReading part = sensor_part(total->sensor);
    part.reading = total->value;
    if (total->sensor == nullptr && total->control != nullptr) part.status = status_of(total->control);
    return part;
}

// The PowerControl entry of the total's chassis (else the main chassis);
// where there is none, the total power itself under that name.
PartReading power_control_part(const ServiceView& service, const std::optional<TotalPower>& total,
                               const PartReading& total_part) {
    const std::size_t index = total ? total->chassis : service.main;
    const Json* control = index < service.chassis.size() ? first_power_control(service.chassis[index]) : nullptr;
    PartReading part;
    if (control != nullptr) {
        part.name = text_of(member_of(control, "Name"));
        part.reading = reading_of(member_of(control, "PowerConsumedWatts"));
        part.status = status_of(control);
    } else if (total) {
        part.name = total_part.name;
        part.reading = total->value;
        part.status = total_part.status;
    }
    return part;
}

// OpenBMC's peak-power sensor, else the highest power the first PowerControl
// entry measured over its interval, else the total's sensor's PeakReading.
PartReading peak_power_part(const ServiceView& service, const std::optional<TotalPower>& total,
                            const DocumentStore& store) {
    const std::size_t index = total ? total->chassis : service.main;
    if (index >= service.chassis.size()) return {};
    const ChassisView& chassis = service.chassis[index];
    if (const Json* sensor = openbmc_sensor(chassis, store, kPeakPowerIds)) return sensor_part(sensor);
    PartReading part;
    const Json* metrics = member_of(first_power_control(chassis), "PowerMetrics");
    if (const Json* most = member_of(metrics, "MaxConsumedWatts"); is_number(most)) {
        part.reading = *most;
        if (const Json* interval = member_of(metrics, "IntervalInMin"); is_number(interval))
            part.interval_in_min = *interval;
    } else if (const Json* peak = member_of(total ? total->sensor : nullptr, "PeakReading"); is_number(peak)) {
        part.reading = *peak;
    }
    return part;
}

// A chassis that is a part of another, not the enclosure of the server.
bool is_part(const Json* chassis) {
    static const std::set<std::string> kParts = {"Card",   "Cartridge",        "Component", "IPBasedDrive",
                                                 "Module", "StorageEnclosure", "Zone"};
    const auto type = text_of(member_of(chassis, "ChassisType"));
    return type && kParts.count(*type) > 0;
}

}  // namespace

std::size_t main_chassis(const Json* first_system, const std::vector<ChassisView>& chassis) {
    const Json* linked = path_of(first_system, {"Links", "Chassis"});
    if (linked != nullptr && linked->is_array())
        for (const auto& entry : *linked) {
            const Json* id = member_of(&entry, "@odata.id");
            const auto path = id != nullptr ? odata_path(*id) : std::nullopt;
            for (std::size_t index = 0; path && index < chassis.size(); ++index)
                if (chassis[index].path == *path && !is_part(chassis[index].chassis)) return index;
        }
    for (std::size_t index = 0; index < chassis.size(); ++index)
        if (!is_part(chassis[index].chassis)) return index;
    return 0;
}

bool publishes_total_power(const ChassisView& chassis, const DocumentStore& store) {
    return total_power_of(chassis, 0, store).has_value();
}

std::vector<std::string> power_sensor_paths(const ChassisView& chassis) {
    std::vector<std::string> paths;
    if (const std::string source = data_source(environment_power(chassis)); !source.empty()) paths.push_back(source);
    for (const auto* ids : {&kTotalPowerIds, &kPeakPowerIds})
        if (const auto path = listed_sensor(chassis, *ids)) paths.push_back(*path);
    return paths;
}

PowerParts power_parts(const ServiceView& service, const DocumentStore& store) {
    const auto total = total_power(service, store);
    PowerParts parts;
    parts.total_power = total_power_part(total);
    parts.power_control = power_control_part(service, total, parts.total_power);
    parts.peak_power = peak_power_part(service, total, store);
    return parts;
}

}  // namespace redfish
