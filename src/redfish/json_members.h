#pragma once
// Reading members of a Redfish document without trusting its shape: every
// step gives nothing where a BMC publishes something else.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "redfish/service_reading.h"
#include "support/json.h"

namespace redfish {

inline const support::Json* member_of(const support::Json* value, std::string_view name) {
    if (value == nullptr || !value->is_object()) return nullptr;
    const auto found = value->find(std::string(name));
    return found == value->end() ? nullptr : &*found;
}

inline const support::Json* path_of(const support::Json* value, std::initializer_list<std::string_view> names) {
    for (const auto name : names) value = member_of(value, name);
    return value;
}

inline std::optional<std::string> text_of(const support::Json* value) {
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

inline bool is_number(const support::Json* value) { return value != nullptr && value->is_number(); }

// A reading as published: a number, or null for a sensor that cannot be read
// now; anything else counts as not published.
inline std::optional<support::Json> reading_of(const support::Json* value) {
    if (value == nullptr || !(value->is_number() || value->is_null())) return std::nullopt;
    return *value;
}

// The Health, HealthRollup and State words of a resource's Status.
inline StatusWords status_of(const support::Json* resource) {
    const support::Json* status = member_of(resource, "Status");
    return {text_of(member_of(status, "Health")), text_of(member_of(status, "HealthRollup")),
            text_of(member_of(status, "State"))};
}

inline std::string last_segment(std::string_view path) {
    const auto cut = path.find_last_of("/#");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

}  // namespace redfish
