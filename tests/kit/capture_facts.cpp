#include "kit/capture_facts.h"

#include <cctype>

#include "kit/test_bmc.h"

namespace kit {

using support::Json;

std::string test_name_of(const CaptureFacts& facts) {
    std::string name = facts.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

bmc_sim::Scenario capture_scenario(const std::string& name) {
    return bmc_sim::load_scenario(testdata_dir("redfish-mockups/" + name));
}

Json held_at(const bmc_sim::Scenario& scenario, const std::string& path, const std::string& members) {
    const auto answer = bmc_sim::answer_for_get(scenario, path, "");
    if (!answer || answer->status != 200) return nullptr;
    Json value = Json::parse(answer->body);
    for (std::size_t start = 0; !members.empty() && start <= members.size();) {
        const auto dot = std::min(members.find('.', start), members.size());
        const std::string name = members.substr(start, dot - start);
        if (!value.is_object() || !value.contains(name)) return nullptr;
        value = Json(value[name]);
        start = dot + 1;
    }
    return value;
}

Json held_total_power(const bmc_sim::Scenario& scenario, const CaptureFacts& facts) {
    if (facts.total_member == "PowerControl")
        return held_at(scenario, facts.total_path, "PowerControl")[0]["PowerConsumedWatts"];
    return held_at(scenario, facts.total_path, facts.total_member);
}

Json held_peak_power(const bmc_sim::Scenario& scenario, const CaptureFacts& facts) {
    if (facts.peak_path.empty()) return nullptr;
    return held_at(scenario, facts.peak_path, "PowerControl")[0]["PowerMetrics"]["MaxConsumedWatts"];
}

}  // namespace kit
