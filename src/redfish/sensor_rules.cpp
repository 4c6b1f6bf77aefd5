#include "redfish/sensor_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "redfish/json_members.h"
#include "redfish/service_links.h"

namespace redfish {
namespace {

using support::Json;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

struct Row {
    SensorReading reading;
    std::string id;
};

Row make_row(const Json& source, std::string_view where, Unit unit, const std::optional<Json>& reading) {
    return {{row_name(source, where), reading, unit, status_of(&source), {}, {}}, row_id(source, where)};
}

// bmcweb's Thermal resource wrote fan readings as integers (it cast them to
// int64); sensors and fan resources give reals. They are cut to integers as
// before, so both kinds of firmware give the same values; null stays null.
Json fan_value(const Json& reading) {
    if (!reading.is_number_float()) return reading;
    const double value = reading.get<double>();
    constexpr double kLimit = 9.2e18;
    if (!std::isfinite(value) || std::fabs(value) >= kLimit) return reading;
    return static_cast<std::int64_t>(value);
}

std::optional<Json> fan_reading_of(const Json* value) {
    auto reading = reading_of(value);
    if (reading) reading = fan_value(*reading);
    return reading;
}

// Thermal's fans: ReadingUnits "Percent" (or "%") is a speed in percent.
bool percent_units(const Json& fan) {
    const auto units = text_of(member_of(&fan, "ReadingUnits"));
    return units && (*units == "Percent" || *units == "%");
}

// A sensor's kind: its ReadingType, else what its ReadingUnits say.
std::string sensor_type(const Json& sensor) {
    if (const auto type = text_of(member_of(&sensor, "ReadingType")); type && !type->empty()) return *type;
    static const std::map<std::string, std::string> kByUnits = {
        {"V", "Voltage"}, {"Cel", "Temperature"}, {"RPM", "Rotational"}, {"%", "Percent"}};
    const auto units = text_of(member_of(&sensor, "ReadingUnits"));
    const auto found = units ? kByUnits.find(*units) : kByUnits.end();
    return found == kByUnits.end() ? "" : found->second;
}

// A percent sensor is a fan's when its PhysicalContext says Fan or its name
// or id names a fan or a PWM output; other percent sensors (utilisation,
// battery health) are not fans.
bool fan_percent_sensor(const Json& sensor, std::string_view path) {
    if (text_of(member_of(&sensor, "PhysicalContext")) == "Fan") return true;
    const std::string words = lower(row_name(sensor, path) + " " + last_segment(path));
    return words.find("fan") != std::string::npos || words.find("pwm") != std::string::npos;
}

struct Lists {
    std::vector<Row> voltages, fans, temperatures;
};

// Paths of the sensors that already gave a row, and those a row's
// DataSourceUri names: a sensor reached twice gives one row.
using Covered = std::set<std::string>;

bool take_path(Covered& covered, const std::vector<std::string>& paths) {
    for (const auto& path : paths)
        if (!path.empty() && covered.count(path)) return false;
    for (const auto& path : paths)
        if (!path.empty()) covered.insert(path);
    return true;
}

// An array element is told apart by its @odata.id with its fragment
// ("/redfish/v1/Chassis/1/Thermal#/Fans/0"), else by where it stands.
std::string element_id(const Json& element, std::string_view where) {
    const auto id = text_of(member_of(&element, "@odata.id"));
    return id ? *id : std::string(where);
}

void array_rows(const Json* array, std::string_view where, Unit unit, std::string_view reading_member, Covered& covered,
                std::vector<Row>& rows) {
    if (array == nullptr || !array->is_array()) return;
    std::size_t index = 0;
    for (const auto& element : *array) {
        const std::string at = std::string(where) + "/" + std::to_string(index++);
        if (!element.is_object()) continue;
        if (!take_path(covered, {element_id(element, at), data_source(&element)})) continue;
        const Unit row_unit = unit == Unit::Rpm && percent_units(element) ? Unit::Percent : unit;
        rows.push_back(make_row(element, at, row_unit, reading_of(member_of(&element, reading_member))));
    }
}

std::optional<Unit> sensor_unit(const Json& sensor, std::string_view path) {
    const std::string type = sensor_type(sensor);
    if (type == "Voltage") return Unit::Volts;
    if (type == "Temperature") return Unit::Celsius;
    if (type == "Rotational") return Unit::Rpm;
    if (type == "Percent" && fan_percent_sensor(sensor, path)) return Unit::Percent;
    return std::nullopt;
}

std::optional<Json> sensor_value(const Json& sensor, Unit unit) {
    const Json* reading = member_of(&sensor, "Reading");
    if (unit == Unit::Rpm && reading == nullptr) reading = member_of(&sensor, "SpeedRPM");
    return unit == Unit::Rpm || unit == Unit::Percent ? fan_reading_of(reading) : reading_of(reading);
}

// A fan resource's speed: SpeedPercent.SpeedRPM or SpeedRPM in RPM, else
// SpeedPercent.Reading in percent; none when it carries neither.
std::optional<std::pair<Unit, Json>> fan_resource_speed(const Json& fan) {
    const Json* percent = member_of(&fan, "SpeedPercent");
    for (const Json* rpm : {member_of(percent, "SpeedRPM"), member_of(&fan, "SpeedRPM")})
        if (const auto value = fan_reading_of(rpm)) return std::make_pair(Unit::Rpm, *value);
    if (const auto value = fan_reading_of(member_of(percent, "Reading"))) return std::make_pair(Unit::Percent, *value);
    return std::nullopt;
}

void sort_by_name(std::vector<Row>& rows, std::size_t from) {
    std::stable_sort(rows.begin() + static_cast<long>(from), rows.end(),
                     [](const Row& a, const Row& b) { return a.reading.name < b.reading.name; });
}

// Fan resources with a speed come first, so that the sensor they name gives
// no second row; one without any speed (bmcweb names them all "Fan" and keeps
// their speeds on sensors) is returned, to add a row only where the chassis
// gives no other fan row.
std::vector<std::pair<std::string, const Json*>> fan_resource_rows(const ChassisView& chassis,
                                                                   const DocumentStore& store, Covered& covered,
                                                                   Lists& lists) {
    std::vector<std::pair<std::string, const Json*>> silent_fans;
    for (const auto& path : chassis.fan_paths) {
        const Json* fan = known_document(store, path);
        if (fan == nullptr || !fan->is_object()) continue;
        const auto speed = fan_resource_speed(*fan);
        if (!speed) {
            silent_fans.emplace_back(path, fan);
            continue;
        }
        if (take_path(covered, {path, data_source(member_of(fan, "SpeedPercent"))}))
            lists.fans.push_back(make_row(*fan, path, speed->first, speed->second));
    }
    return silent_fans;
}

// The rows of a chassis without Power or Thermal, from its sensors and fan
// resources, each list sorted by name as bmcweb sorted its old arrays.
void sensor_rows(const ChassisView& chassis, const DocumentStore& store, bool voltages, bool thermal, Covered& covered,
                 Lists& lists) {
    const std::size_t first_voltage = lists.voltages.size(), first_fan = lists.fans.size(),
                      first_temperature = lists.temperatures.size();
    const auto silent_fans = thermal ? fan_resource_rows(chassis, store, covered, lists)
                                     : std::vector<std::pair<std::string, const Json*>>{};
    for (const auto& path : chassis.sensor_paths) {
        const Json* sensor = known_document(store, path);
        if (sensor == nullptr || !sensor->is_object()) continue;
        const auto unit = sensor_unit(*sensor, path);
        if (!unit || (*unit == Unit::Volts ? !voltages : !thermal)) continue;
        if (!take_path(covered, {path})) continue;
        auto& rows = *unit == Unit::Volts ? lists.voltages : *unit == Unit::Celsius ? lists.temperatures : lists.fans;
        rows.push_back(make_row(*sensor, path, *unit, sensor_value(*sensor, *unit)));
    }
    if (lists.fans.size() == first_fan)
        for (const auto& [path, fan] : silent_fans)
            if (take_path(covered, {path})) lists.fans.push_back(make_row(*fan, path, Unit::Rpm, std::nullopt));
    sort_by_name(lists.voltages, first_voltage);
    sort_by_name(lists.fans, first_fan);
    sort_by_name(lists.temperatures, first_temperature);
}

std::vector<SensorReading> unique_rows(std::vector<Row> rows) {
    std::vector<std::string> names, ids;
    for (const auto& row : rows) {
        names.push_back(row.reading.name);
        ids.push_back(row.id);
    }
    make_names_unique(names, ids);
    std::vector<SensorReading> readings;
    readings.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        readings.push_back(std::move(rows[i].reading));
        readings.back().name = std::move(names[i]);
    }
    return readings;
}

}  // namespace

std::string row_id(const Json& source, std::string_view where) {
    for (const auto member : {"Id", "MemberId"})
        if (const auto text = text_of(member_of(&source, member)); text && !text->empty()) return *text;
    if (const auto id = text_of(member_of(&source, "@odata.id"))) return last_segment(*id);
    return last_segment(where);
}

std::string row_name(const Json& source, std::string_view where) {
    for (const auto member : {"Name", "FanName", "Id", "MemberId"})
        if (const auto text = text_of(member_of(&source, member)); text && !text->empty()) return *text;
    return last_segment(where);
}

void make_names_unique(std::vector<std::string>& names, const std::vector<std::string>& ids) {
    std::map<std::string, int> count;
    for (const auto& name : names) ++count[name];
    for (std::size_t i = 0; i < names.size(); ++i)
        if (count[names[i]] > 1) names[i] += " (" + ids[i] + ")";
    // Every name a row has before the numbering, so that no number gives a
    // row the name of another.
    const std::set<std::string> candidates(names.begin(), names.end());
    std::set<std::string> given;
    std::map<std::string, int> seen;
    for (auto& name : names) {
        if (int& n = seen[name]; ++n > 1) {
            std::string numbered = name + " (" + std::to_string(n) + ")";
            while (candidates.count(numbered) || given.count(numbered))
                numbered = name + " (" + std::to_string(++n) + ")";
            name = std::move(numbered);
        }
        given.insert(name);
    }
}

SensorLists sensor_lists(const ServiceView& service, const DocumentStore& store) {
    Lists lists;
    Covered covered;
    for (const auto& chassis : service.chassis) {
        if (chassis.power != nullptr)
            array_rows(member_of(chassis.power, "Voltages"), chassis.path + "/Power#/Voltages", Unit::Volts,
                       "ReadingVolts", covered, lists.voltages);
        if (chassis.thermal != nullptr) {
            array_rows(member_of(chassis.thermal, "Fans"), chassis.path + "/Thermal#/Fans", Unit::Rpm, "Reading",
                       covered, lists.fans);
            array_rows(member_of(chassis.thermal, "Temperatures"), chassis.path + "/Thermal#/Temperatures",
                       Unit::Celsius, "ReadingCelsius", covered, lists.temperatures);
        }
        sensor_rows(chassis, store, chassis.power == nullptr, chassis.thermal == nullptr, covered, lists);
    }
    return {unique_rows(std::move(lists.voltages)), unique_rows(std::move(lists.fans)),
            unique_rows(std::move(lists.temperatures))};
}

}  // namespace redfish
