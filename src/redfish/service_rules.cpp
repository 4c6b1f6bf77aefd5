#include "redfish/service_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>

namespace redfish {
namespace {

using support::Json;

const Json* member_of(const Json* value, std::string_view name) {
    if (value == nullptr || !value->is_object()) return nullptr;
    const auto found = value->find(std::string(name));
    return found == value->end() ? nullptr : &*found;
}

const Json* path_of(const Json* value, std::initializer_list<std::string_view> names) {
    for (const auto name : names) value = member_of(value, name);
    return value;
}

std::optional<std::string> text_of(const Json* value) {
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

bool is_number(const Json* value) { return value != nullptr && value->is_number(); }

// A reading as published: a number, or null for a sensor that cannot be read
// now; anything else counts as not published.
std::optional<Json> reading_of(const Json* value) {
    if (value == nullptr || !(value->is_number() || value->is_null())) return std::nullopt;
    return *value;
}

std::string last_segment(std::string_view path) {
    const auto cut = path.find_last_of("/#");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// ---------------------------------------------------------------- elements

// Status with only the words it publishes as text; null and other kinds are
// not published.
Json published_status(const Json* status, std::initializer_list<std::string_view> words) {
    Json kept = Json::object();
    for (const auto word : words)
        if (const auto text = text_of(member_of(status, word))) kept[std::string(word)] = *text;
    return kept;
}

Json row_status(const Json& source) { return published_status(member_of(&source, "Status"), {"Health", "State"}); }

// The name a row goes by: Name, else the old FanName, else the resource's
// own id, else the last segment of where it was found.
std::string row_name(const Json& source, std::string_view where) {
    for (const auto member : {"Name", "FanName", "Id", "MemberId"})
        if (const auto text = text_of(member_of(&source, member)); text && !text->empty()) return *text;
    return last_segment(where);
}

// What tells two rows of the same name apart: the resource's Id or
// MemberId, else the last segment of its @odata.id or path.
std::string row_id(const Json& source, std::string_view where) {
    for (const auto member : {"Id", "MemberId"})
        if (const auto text = text_of(member_of(&source, member)); text && !text->empty()) return *text;
    if (const auto id = text_of(member_of(&source, "@odata.id"))) return last_segment(*id);
    return last_segment(where);
}

struct Row {
    std::string name;
    std::string id;
    Json element;  // Name, the reading under its member, ReadingUnits for percent fans, Status
};

enum class Reading { Volts, Celsius, Rpm, Percent };

constexpr std::string_view kPercentUnits = "Percent";

Row make_row(const Json& source, std::string_view where, Reading kind, const std::optional<Json>& reading) {
    Row row{row_name(source, where), row_id(source, where), Json::object()};
    static constexpr std::array<std::string_view, 4> kMember = {"ReadingVolts", "ReadingCelsius", "Reading", "Reading"};
    row.element["Name"] = row.name;
    if (reading) row.element[std::string(kMember[static_cast<std::size_t>(kind)])] = *reading;
    if (kind == Reading::Percent) row.element["ReadingUnits"] = kPercentUnits;
    row.element["Status"] = row_status(source);
    return row;
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

// ------------------------------------------------------------------ lists

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

std::string data_source(const Json* excerpt) {
    const auto uri = member_of(excerpt, "DataSourceUri");
    if (uri == nullptr) return "";
    const auto path = odata_path(*uri);
    return path ? *path : "";
}

// An array element is told apart by its @odata.id with its fragment
// ("/redfish/v1/Chassis/1/Thermal#/Fans/0"), else by where it stands.
std::string element_id(const Json& element, std::string_view where) {
    const auto id = text_of(member_of(&element, "@odata.id"));
    return id ? *id : std::string(where);
}

void array_rows(const Json* array, std::string_view where, Reading kind, std::string_view reading_member,
                Covered& covered, std::vector<Row>& rows) {
    if (array == nullptr || !array->is_array()) return;
    std::size_t index = 0;
    for (const auto& element : *array) {
        const std::string at = std::string(where) + "/" + std::to_string(index++);
        if (!element.is_object()) continue;
        if (!take_path(covered, {element_id(element, at), data_source(&element)})) continue;
        Reading row_kind = kind;
        std::optional<Json> reading = reading_of(member_of(&element, reading_member));
        if (kind == Reading::Rpm && percent_units(element)) row_kind = Reading::Percent;
        rows.push_back(make_row(element, at, row_kind, reading));
    }
}

std::optional<Reading> sensor_row_kind(const Json& sensor, std::string_view path) {
    const std::string type = sensor_type(sensor);
    if (type == "Voltage") return Reading::Volts;
    if (type == "Temperature") return Reading::Celsius;
    if (type == "Rotational") return Reading::Rpm;
    if (type == "Percent" && fan_percent_sensor(sensor, path)) return Reading::Percent;
    return std::nullopt;
}

std::optional<Json> sensor_reading(const Json& sensor, Reading kind) {
    const Json* reading = member_of(&sensor, "Reading");
    if (kind == Reading::Rpm && reading == nullptr) reading = member_of(&sensor, "SpeedRPM");
    return kind == Reading::Rpm || kind == Reading::Percent ? fan_reading_of(reading) : reading_of(reading);
}

// A fan resource's speed: SpeedPercent.SpeedRPM or SpeedRPM in RPM, else
// SpeedPercent.Reading in percent; none when it carries neither.
std::optional<std::pair<Reading, Json>> fan_resource_speed(const Json& fan) {
    const Json* percent = member_of(&fan, "SpeedPercent");
    for (const Json* rpm : {member_of(percent, "SpeedRPM"), member_of(&fan, "SpeedRPM")})
        if (const auto value = fan_reading_of(rpm)) return std::make_pair(Reading::Rpm, *value);
    if (const auto value = fan_reading_of(member_of(percent, "Reading")))
        return std::make_pair(Reading::Percent, *value);
    return std::nullopt;
}

void sort_by_name(std::vector<Row>& rows, std::size_t from) {
    std::stable_sort(rows.begin() + static_cast<long>(from), rows.end(),
                     [](const Row& a, const Row& b) { return a.name < b.name; });
}

// The rows of a chassis without Power or Thermal, from its sensors and fan
// resources, each list sorted by name as bmcweb sorted its old arrays. Fan
// resources with a speed come first, so that the sensor they name gives no
// second row; one without any speed (bmcweb names them all "Fan" and keeps
// their speeds on sensors) adds a row only where the chassis gives no other
// fan row.
void sensor_rows(const ChassisView& chassis, const DocumentStore& store, bool voltages, bool thermal, Covered& covered,
                 Lists& lists) {
    const std::size_t first_voltage = lists.voltages.size(), first_fan = lists.fans.size(),
                      first_temperature = lists.temperatures.size();
    std::vector<std::pair<std::string, const Json*>> silent_fans;
    if (thermal) {
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
    }
    for (const auto& path : chassis.sensor_paths) {
        const Json* sensor = known_document(store, path);
        if (sensor == nullptr || !sensor->is_object()) continue;
        const auto kind = sensor_row_kind(*sensor, path);
        if (!kind || (*kind == Reading::Volts ? !voltages : !thermal)) continue;
        if (!take_path(covered, {path})) continue;
        auto& rows = *kind == Reading::Volts     ? lists.voltages
                     : *kind == Reading::Celsius ? lists.temperatures
                                                 : lists.fans;
        rows.push_back(make_row(*sensor, path, *kind, sensor_reading(*sensor, *kind)));
    }
    if (lists.fans.size() == first_fan)
        for (const auto& [path, fan] : silent_fans)
            if (take_path(covered, {path})) lists.fans.push_back(make_row(*fan, path, Reading::Rpm, std::nullopt));
    sort_by_name(lists.voltages, first_voltage);
    sort_by_name(lists.fans, first_fan);
    sort_by_name(lists.temperatures, first_temperature);
}

Lists all_rows(const ServiceView& service, const DocumentStore& store) {
    Lists lists;
    Covered covered;
    for (const auto& chassis : service.chassis) {
        if (chassis.power != nullptr)
            array_rows(member_of(chassis.power, "Voltages"), chassis.path + "/Power#/Voltages", Reading::Volts,
                       "ReadingVolts", covered, lists.voltages);
        if (chassis.thermal != nullptr) {
            array_rows(member_of(chassis.thermal, "Fans"), chassis.path + "/Thermal#/Fans", Reading::Rpm, "Reading",
                       covered, lists.fans);
            array_rows(member_of(chassis.thermal, "Temperatures"), chassis.path + "/Thermal#/Temperatures",
                       Reading::Celsius, "ReadingCelsius", covered, lists.temperatures);
        }
        sensor_rows(chassis, store, chassis.power == nullptr, chassis.thermal == nullptr, covered, lists);
    }
    return lists;
}

// Rows that share a name take their id after it, "Name (id)"; a name that
// occurs once stays as it is. Should ids repeat too, the later rows take
// " (2)", " (3)", ... after that.
void make_names_unique(std::vector<Row>& rows) {
    std::map<std::string, int> count;
    for (const auto& row : rows) ++count[row.name];
    for (auto& row : rows)
        if (count[row.name] > 1) row.name += " (" + row.id + ")";
    std::map<std::string, int> seen;
    for (auto& row : rows)
        if (const int n = ++seen[row.name]; n > 1) row.name += " (" + std::to_string(n) + ")";
    for (auto& row : rows) row.element["Name"] = row.name;
}

Json array_of(std::vector<Row> rows) {
    make_names_unique(rows);
    Json array = Json::array();
    for (auto& row : rows) array.push_back(std::move(row.element));
    return array;
}

// ------------------------------------------------------------------ storage

// Every member's Status counts: a word is "OK" ("Enabled") only when every
// member that publishes it says so; otherwise the first other value stands.
// The name is that of the first member with something not OK, else of the
// first member.
Json storage_document(const std::vector<std::string>& paths, const DocumentStore& store) {
    struct Word {
        std::string_view name, good;
    };
    static constexpr Word kWords[] = {{"Health", "OK"}, {"HealthRollup", "OK"}, {"State", "Enabled"}};
    Json status = Json::object();
    const Json* first = nullptr;
    const Json* troubled = nullptr;
    for (const auto& path : paths) {
        const Json* member = known_document(store, path);
        if (member == nullptr || !member->is_object()) continue;
        if (first == nullptr) first = member;
        for (const auto& word : kWords) {
            const auto text = text_of(path_of(member, {"Status", word.name}));
            if (!text) continue;
            const std::string key(word.name);
            if (!status.contains(key) || status[key] == word.good) status[key] = *text;
            if (*text != word.good && troubled == nullptr) troubled = member;
        }
    }
    Json storage = Json::object();
    if (const Json* named = troubled != nullptr ? troubled : first) storage["Name"] = row_name(*named, "");
    storage["Status"] = status;
    return storage;
}

// ------------------------------------------------------------ total power

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

// A sensor's members that the reduction reads, each as published.
Json sensor_document(const Json* sensor) {
    Json kept = Json::object();
    if (const auto name = text_of(member_of(sensor, "Name"))) kept["Name"] = *name;
    for (const auto member : {"Reading", "ReadingRangeMax", "ReadingRangeMin"})
        if (const auto value = reading_of(member_of(sensor, member))) kept[member] = *value;
    kept["Status"] = published_status(member_of(sensor, "Status"), {"Health", "State"});
    Json limits = Json::object();
    for (const auto limit : {"LowerCaution", "UpperCaution", "LowerCritical", "UpperCritical"})
        if (const auto value = reading_of(path_of(sensor, {"Thresholds", limit, "Reading"})))
            limits[limit] = {{"Reading", *value}};
    kept["Thresholds"] = limits;
    return kept;
}

Json total_power_document(const std::optional<TotalPower>& total) {
    if (!total) return Json::object();
    Json document = sensor_document(total->sensor);
    document["Reading"] = total->value;
    if (total->sensor == nullptr && total->control != nullptr)
        document["Status"] = published_status(member_of(total->control, "Status"), {"Health", "State"});
    return document;
}

// The PowerControl entry of the total's chassis (else the main chassis);
// where there is none, the total power itself under that name.
Json power_control_entry(const ServiceView& service, const std::optional<TotalPower>& total) {
    const std::size_t index = total ? total->chassis : service.main;
    const Json* control = index < service.chassis.size() ? first_power_control(service.chassis[index]) : nullptr;
    Json entry = Json::object();
    if (control != nullptr) {
        if (const auto name = text_of(member_of(control, "Name"))) entry["Name"] = *name;
        if (const auto watts = reading_of(member_of(control, "PowerConsumedWatts")))
            entry["PowerConsumedWatts"] = *watts;
        entry["Status"] = published_status(member_of(control, "Status"), {"Health", "State"});
        return entry;
    }
    if (!total) return entry;
    const Json document = total_power_document(total);
    if (document.contains("Name")) entry["Name"] = document["Name"];
    entry["PowerConsumedWatts"] = total->value;
    entry["Status"] = document["Status"];
    return entry;
}

// OpenBMC's peak-power sensor, else the highest power the first PowerControl
// entry measured over its interval, else the total's sensor's PeakReading.
Json peak_power_document(const ServiceView& service, const std::optional<TotalPower>& total,
                         const DocumentStore& store) {
    const std::size_t index = total ? total->chassis : service.main;
    if (index >= service.chassis.size()) return Json::object();
    const ChassisView& chassis = service.chassis[index];
    if (const Json* sensor = openbmc_sensor(chassis, store, kPeakPowerIds)) return sensor_document(sensor);
    const Json* metrics = member_of(first_power_control(chassis), "PowerMetrics");
    if (const Json* most = member_of(metrics, "MaxConsumedWatts"); is_number(most)) {
        Json peak = {{"Reading", *most}};
        if (const Json* interval = member_of(metrics, "IntervalInMin"); is_number(interval))
            peak["IntervalInMin"] = *interval;
        return peak;
    }
    if (const Json* peak = member_of(total ? total->sensor : nullptr, "PeakReading"); is_number(peak))
        return {{"Reading", *peak}};
    return Json::object();
}

// A chassis that is a part of another, not the enclosure of the server.
bool is_part(const Json* chassis) {
    static const std::set<std::string> kParts = {"Card",   "Cartridge",        "Component", "IPBasedDrive",
                                                 "Module", "StorageEnclosure", "Zone"};
    const auto type = text_of(member_of(chassis, "ChassisType"));
    return type && kParts.count(*type) > 0;
}

}  // namespace

std::string expand_query(const Json* root) {
    const Json* query = path_of(root, {"ProtocolFeaturesSupported", "ExpandQuery"});
    const auto says_yes = [&](std::string_view name) {
        const Json* flag = member_of(query, name);
        return flag != nullptr && flag->is_boolean() && flag->get<bool>();
    };
    // At one level "." and "*" expand a collection's members alike.
    std::string how = says_yes("NoLinks") ? "." : says_yes("ExpandAll") ? "*" : "";
    if (how.empty()) return "";
    if (says_yes("Levels")) how += "($levels=1)";
    return "?$expand=" + how;
}

std::optional<std::string> link(const Json* document, const std::string& name) {
    const Json* id = path_of(document, {name, "@odata.id"});
    if (id == nullptr) return std::nullopt;
    return odata_path(*id);
}

std::vector<std::string> member_paths(const Json* collection) {
    std::vector<std::string> paths;
    const Json* members = member_of(collection, "Members");
    if (members == nullptr || !members->is_array()) return paths;
    for (const auto& entry : *members)
        if (const Json* id = member_of(&entry, "@odata.id"))
            if (auto path = odata_path(*id)) paths.push_back(std::move(*path));
    return paths;
}

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

Documents assembled_documents(const ServiceView& service, const DocumentStore& store) {
    Lists lists = all_rows(service, store);
    const auto total = total_power(service, store);
    Documents documents;
    documents.getStorage = storage_document(service.storage_paths, store);
    documents.getChassiPower = Json{{"PowerControl", Json::array({power_control_entry(service, total)})},
                                    {"Voltages", array_of(std::move(lists.voltages))}};
    documents.getChassiThermal =
        Json{{"Fans", array_of(std::move(lists.fans))}, {"Temperatures", array_of(std::move(lists.temperatures))}};
    documents.getChassiTotalPower = total_power_document(total);
    documents.getChassiPeakPower = peak_power_document(service, total, store);
    return documents;
}

}  // namespace redfish
