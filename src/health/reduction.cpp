#include "health/reduction.h"

#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "health/lists.h"
#include "support/failure.h"
#include "support/json_text.h"

namespace health {
namespace {

using support::Json;

const Json kEmptyObject = Json::object();
const Json kEmptyArray = Json::array();

// A value inside one document, with the member path that led to it.
struct Located {
    const Json* value;  // nullptr: the document is missing
    std::string_view document;
    std::string path;     // empty for the document itself
    bool present = true;  // false where a default stands in for an absent member
};

std::string place(const Located& at) {
    return std::string(at.document) + ": " + (at.path.empty() ? "the document" : at.path);
}

std::string found_text(const Json& value) {
    constexpr std::size_t kShownText = 40;
    switch (value.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::boolean: return value.get<bool>() ? "true" : "false";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned: return "the integer " + support::json_text(value);
        case Json::value_t::number_float: return "the real " + support::json_text(value);
        case Json::value_t::string: {
            const auto& text = value.get_ref<const std::string&>();
            if (text.size() > kShownText) return "a text of " + std::to_string(text.size()) + " bytes";
            return "the text " + support::json_text(value);
        }
        case Json::value_t::array: return "an array";
        case Json::value_t::object: return "an object";
        default: return "an unreadable value";
    }
}

[[noreturn]] void fail_kind(const Located& at, std::string_view expected) {
    if (at.value == nullptr) throw MissingDocument(at.document);
    throw support::Failure(support::FailureKind::DocumentError,
                           place(at) + " is " + found_text(*at.value) + ", expected " + std::string(expected));
}

// The lookup rule: member name of an object, or fallback when the object has
// no such member; anything but an object ends the run.
Located member(const Located& at, std::string_view name, const Json& fallback) {
    if (at.value == nullptr || !at.value->is_object()) fail_kind(at, "an object");
    std::string path = at.path.empty() ? std::string(name) : at.path + "." + std::string(name);
    const auto found = at.value->find(std::string(name));
    if (found == at.value->end()) return {&fallback, at.document, std::move(path), false};
    return {&*found, at.document, std::move(path), true};
}

// A dotted path: every step but the last defaults to an empty object, the
// last to "N/A".
Located path_value(const Located& base, std::string_view path) {
    Located at = base;
    for (auto dot = path.find('.'); dot != std::string_view::npos; dot = path.find('.')) {
        at = member(at, path.substr(0, dot), kEmptyObject);
        path.remove_prefix(dot + 1);
    }
    return member(at, path, kNotAvailable);
}

// The array walk: an absent member, an empty object and an empty text give no
// elements; every other value that is not an array ends the run.
std::vector<Located> elements(const Located& base, std::string_view name) {
    const Located array = member(base, name, kEmptyArray);
    const Json& value = *array.value;
    const bool empty_stand_in =
        (value.is_object() && value.empty()) || (value.is_string() && value.get_ref<const std::string&>().empty());
    if (empty_stand_in) return {};
    if (!value.is_array()) fail_kind(array, "an array");
    std::vector<Located> result;
    result.reserve(value.size());
    for (std::size_t index = 0; index < value.size(); ++index)
        result.push_back({&value[index], array.document, array.path + "[" + std::to_string(index) + "]", true});
    return result;
}

Json taken(const Located& base, std::string_view path, Take take) {
    const Located at = path_value(base, path);
    switch (take) {
        case Take::Value: return *at.value;
        case Take::Rounded: return at.present ? rounded_reading(*at.value, place(at)) : kNotAvailable;
        case Take::FlagOk:
        case Take::FlagEnabled: return status_flag(*at.value, take);
    }
    return *at.value;
}

Located document(const redfish::Documents& documents, redfish::HeldDocument which) {
    const auto& found = documents.*which;
    return {found ? &*found : nullptr, redfish::resource_reader(which).name, "", true};
}

void take_fields(const Located& base, Group group, HealthSnapshot& snapshot) {
    for (const auto& item : kFixedItems)
        if (item.group == group) snapshot[item.item] = taken(base, item.path, item.take);
}

std::vector<SensorRow> discovery_rows(const Located& base, const DiscoveryList& list, std::string_view array) {
    std::vector<SensorRow> rows;
    for (const auto& element : elements(base, array)) {
        SensorRow row;
        for (const auto& entry : list.entries) row.*(entry.value) = taken(element, entry.path, entry.take);
        rows.push_back(std::move(row));
    }
    return rows;
}

Json rounded_real(double value) {
    if (!std::isfinite(value)) return value;
    // Fixed notation of the largest double needs 309 digits, a sign, a point and two decimals.
    std::array<char, 320> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 2);
    double rounded = 0.0;
    std::from_chars(text.data(), written.ptr, rounded, std::chars_format::fixed);
    return rounded;
}

}  // namespace

Json status_flag(const Json& word, Take take) {
    const std::string_view good = take == Take::FlagOk ? "OK" : "Enabled";
    return word.is_string() && word.get_ref<const std::string&>() == good ? 1 : 0;
}

MissingDocument::MissingDocument(std::string_view document)
    : support::Failure(support::FailureKind::DocumentError,
                       std::string(document) + ": the document is missing (its read failed)") {}

Json rounded_reading(const Json& reading, const std::string& where) {
    switch (reading.type()) {
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::null: return reading;  // an unreadable sensor is reported as null
        case Json::value_t::boolean: return reading.get<bool>() ? 1 : 0;
        case Json::value_t::number_float: return rounded_real(reading.get<double>());
        default:
            throw support::Failure(support::FailureKind::DocumentError,
                                   where + " is " + found_text(reading) + ", expected a number");
    }
}

HealthSnapshot build_snapshot(const redfish::Documents& documents) {
    HealthSnapshot snapshot;
    for (const auto& group : kGroups) {
        if (group.whole_server) continue;
        const Located base = document(documents, group.document);
        if (const auto* list = discovery_list(group.group)) {
            snapshot[list->list] = discovery_rows(base, *list, group.array);
        } else if (group.array.empty()) {
            take_fields(base, group.group, snapshot);
        } else {
            // Every element in turn: the last one's values are the ones kept.
            for (const auto& element : elements(base, group.array)) take_fields(element, group.group, snapshot);
        }
    }
    return snapshot;
}

}  // namespace health
