#include "redfish/service_rules.h"

#include <optional>
#include <string_view>

#include "redfish/component_rules.h"
#include "redfish/json_members.h"
#include "redfish/power_rules.h"
#include "redfish/sensor_rules.h"

namespace redfish {
namespace {

using support::Json;

// Every member's Status counts: a word is "OK" ("Enabled") only when every
// member that publishes it says so; otherwise the first other value stands.
// The name is that of the first member with something not OK, else of the
// first member.
PartReading storage_part(const std::vector<std::string>& paths, const DocumentStore& store) {
    struct Word {
        std::string_view good;
        std::optional<std::string> StatusWords::*held;
    };
    static constexpr Word kWords[] = {
        {"OK", &StatusWords::health}, {"OK", &StatusWords::health_rollup}, {"Enabled", &StatusWords::state}};
    PartReading storage;
    const Json* first = nullptr;
    const Json* troubled = nullptr;
    for (const auto& path : paths) {
        const Json* member = known_document(store, path);
        if (member == nullptr || !member->is_object()) continue;
        if (first == nullptr) first = member;
        const StatusWords published = status_of(member);
        for (const auto& word : kWords) {
            const auto& text = published.*word.held;
            if (!text) continue;
            auto& kept = storage.status.*word.held;
            if (!kept || *kept == word.good) kept = *text;
            if (*text != word.good && troubled == nullptr) troubled = member;
        }
    }
    if (const Json* named = troubled != nullptr ? troubled : first) storage.name = row_name(*named, "");
    return storage;
}

}  // namespace

ServiceReading service_reading(const ServiceView& service, const DocumentStore& store) {
    auto [power_control, total_power, peak_power] = power_parts(service, store);
    auto [voltages, fans, temperatures] = sensor_lists(service, store);
    ServiceReading reading;
    reading.storage = storage_part(service.storage_paths, store);
    reading.power_control = std::move(power_control);
    reading.total_power = std::move(total_power);
    reading.peak_power = std::move(peak_power);
    reading.voltages = std::move(voltages);
    reading.fans = std::move(fans);
    reading.temperatures = std::move(temperatures);
    if (!service.walked) return reading;
    reading.whole_server = true;
    reading.system = system_part(service, store);
    auto [power_supplies, memory, processors, drives] = component_lists(service, store);
    reading.power_supplies = std::move(power_supplies);
    reading.memory = std::move(memory);
    reading.processors = std::move(processors);
    reading.drives = std::move(drives);
    return reading;
}

}  // namespace redfish
