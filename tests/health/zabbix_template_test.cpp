// The Zabbix templates in zabbix/ against what the probe delivers: a trapper
// item, discovery rule or item prototype that the probe never fills would sit
// empty in Zabbix, and a value the probe sends without an item is refused, so
// both sides must name exactly the same keys. Their external checks must name
// a mode the probe has, with the six arguments it takes. Their discovery rules
// must keep every LLD macro the prototypes and overrides use and drop the
// readings, health and state before discarding an unchanged list.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "health/lists.h"
#include "run/dispatch.h"

namespace {

using Keys = std::set<std::string>;

std::vector<std::filesystem::path> template_files() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(BMC_PROBE_SOURCE_DIR) / "zabbix"))
        if (entry.path().extension() == ".yaml") files.push_back(entry.path());
    return files;
}

// The keys of the entries of a sequence whose type is type.
Keys keys_of_type(const YAML::Node& entries, const std::string& type) {
    Keys keys;
    for (const auto& entry : entries)
        if (entry["type"] && entry["type"].as<std::string>() == type) keys.insert(entry["key"].as<std::string>());
    return keys;
}

Keys delivered_fixed_keys() {
    Keys keys;
    for (const auto& item : health::kFixedItems)
        if (!item.key.empty()) keys.insert(std::string(item.key));
    keys.insert("bmcProbeRun");  // the fleet's line of each run
    return keys;
}

Keys delivered_prototype_keys(const health::DiscoveryList& list) {
    const std::string name_macro(list.entries.front().macro);
    Keys keys;
    for (const bool in_percent : {false, true})
        for (const auto& entry : health::row_entries(list, in_percent))
            if (!entry.key_prefix.empty()) keys.insert(std::string(entry.key_prefix) + name_macro + "]");
    return keys;
}

// The parameters of an item key "name[p1,p2,...]", each unquoted; no value
// when the key is not of that form.
std::optional<std::vector<std::string>> key_parameters(const std::string& key, const std::string& name) {
    if (key.rfind(name + "[", 0) != 0 || key.back() != ']') return std::nullopt;
    std::vector<std::string> parameters(1);
    bool quoted = false;
    for (std::size_t i = name.size() + 1; i + 1 < key.size(); ++i) {
        const char c = key[i];
        if (c == '"') quoted = !quoted;
        else if (c == '\\' && quoted && i + 2 < key.size()) parameters.back() += key[++i];
        else if (c == ',' && !quoted) parameters.emplace_back();
        else parameters.back() += c;
    }
    return parameters;
}

bool is_collection_mode(const std::string& word) {
    for (const auto& mode : run::kCollectionModes)
        if (mode.word == word) return true;
    return false;
}

class ZabbixTemplate : public testing::TestWithParam<std::filesystem::path> {
protected:
    YAML::Node templates() const { return YAML::LoadFile(GetParam().string())["zabbix_export"]["templates"]; }
};

TEST_P(ZabbixTemplate, TrapperItemsAreExactlyTheDeliveredFixedItems) {
    for (const auto& tmpl : templates()) EXPECT_EQ(keys_of_type(tmpl["items"], "TRAP"), delivered_fixed_keys());
}

TEST_P(ZabbixTemplate, DiscoveryRulesAndPrototypesAreExactlyTheDeliveredLists) {
    for (const auto& tmpl : templates()) {
        Keys rules;
        for (const auto& rule : tmpl["discovery_rules"]) {
            const auto key = rule["key"].as<std::string>();
            rules.insert(key);
            const health::DiscoveryList* list = nullptr;
            for (const auto& candidate : health::kDiscoveryLists)
                if (candidate.key == key) list = &candidate;
            if (list == nullptr) continue;  // reported by the comparison of the rules below
            EXPECT_EQ(rule["type"].as<std::string>(), "TRAP") << key;
            EXPECT_EQ(keys_of_type(rule["item_prototypes"], "TRAP"), delivered_prototype_keys(*list)) << key;
        }
        Keys delivered;
        for (const auto& list : health::kDiscoveryLists) delivered.insert(std::string(list.key));
        EXPECT_EQ(rules, delivered);
    }
}

// Every LLD macro ({#...}) in the scalars under node.
void macros_in(const YAML::Node& node, Keys& macros) {
    if (node.IsScalar()) {
        static const std::regex macro(R"(\{#[A-Z0-9_.]+\})");
        const auto text = node.as<std::string>();
        for (std::sregex_iterator it(text.begin(), text.end(), macro), end; it != end; ++it) macros.insert(it->str());
    } else if (node.IsSequence() || node.IsMap()) {
        for (const auto& child : node) macros_in(node.IsMap() ? YAML::Node(child.second) : YAML::Node(child), macros);
    }
}

// The quoted macros of "var NAME = [...]" in the JavaScript step.
Keys js_list(const std::string& script, const std::string& name) {
    std::smatch found;
    if (!std::regex_search(script, found, std::regex("var " + name + R"( = \[([^\]]*)\])")) &&
        !std::regex_search(script, found, std::regex(", " + name + R"( = \[([^\]]*)\])")))
        return {"<no list " + name + ">"};
    Keys macros;
    const std::string inside = found[1];
    static const std::regex quoted(R"('([^']*)')");
    for (std::sregex_iterator it(inside.begin(), inside.end(), quoted), end; it != end; ++it) macros.insert((*it)[1]);
    return macros;
}

// A Zabbix duration (600, 10m, 1h, 7d, 1w) in seconds.
long seconds_of(const std::string& text) {
    std::size_t used = 0;
    const long number = std::stol(text, &used);
    const std::string unit = text.substr(used);
    if (unit.empty() || unit == "s") return number;
    if (unit == "m") return number * 60;
    if (unit == "h") return number * 3600;
    if (unit == "d") return number * 86400;
    if (unit == "w") return number * 604800;
    ADD_FAILURE() << "duration " << text;
    return 0;
}

std::string macro_value(const YAML::Node& tmpl, const std::string& name) {
    for (const auto& macro : tmpl["macros"])
        if (macro["macro"].as<std::string>() == name) return macro["value"].as<std::string>();
    ADD_FAILURE() << "no template macro " << name;
    return "0";
}

TEST_P(ZabbixTemplate, DiscoveryRulesKeepWhatPrototypesUseAndDiscardUnchangedLists) {
    for (const auto& tmpl : templates()) {
        for (const auto& list : health::kDiscoveryLists) {
            std::optional<YAML::Node> found;
            for (const auto& candidate : tmpl["discovery_rules"])
                if (candidate["key"].as<std::string>() == list.key) found.emplace(candidate);
            ASSERT_TRUE(found) << list.key;
            const YAML::Node rule = *found;
            const auto steps = rule["preprocessing"];
            ASSERT_TRUE(steps.IsSequence() && steps.size() == 2) << list.key;
            EXPECT_EQ(steps[0]["type"].as<std::string>(), "JAVASCRIPT") << list.key;
            EXPECT_EQ(steps[1]["type"].as<std::string>(), "DISCARD_UNCHANGED_HEARTBEAT") << list.key;

            Keys used;
            for (const char* part : {"item_prototypes", "trigger_prototypes", "graph_prototypes", "overrides"})
                if (rule[part]) macros_in(rule[part], used);
            const auto script = steps[0]["parameters"][0].as<std::string>();
            const Keys kept = js_list(script, "kept"), present = js_list(script, "present");
            Keys seen = kept;
            seen.insert(present.begin(), present.end());
            for (const auto& macro : used) EXPECT_TRUE(seen.count(macro)) << list.key << " drops " << macro;

            // Only the name keeps its value; the readings are kept as present or not, health and state not at all.
            EXPECT_EQ(kept, Keys{std::string(list.entries[0].macro)}) << list.key;
            Keys readings{std::string(list.entries[1].macro)};
            if (!list.percent_reading.macro.empty()) readings.insert(std::string(list.percent_reading.macro));
            for (const auto& macro : present) EXPECT_TRUE(readings.count(macro)) << list.key << " keeps " << macro;

            // The heartbeat: a template macro well below the lifetime of lost rows.
            const auto heartbeat = steps[1]["parameters"][0].as<std::string>();
            const auto lifetime = rule["lifetime"].as<std::string>();
            ASSERT_EQ(heartbeat.rfind("{$", 0), 0u) << list.key;
            EXPECT_LE(seconds_of(macro_value(tmpl, heartbeat)) * 24, seconds_of(macro_value(tmpl, lifetime)))
                << list.key;
        }
    }
}

TEST_P(ZabbixTemplate, ExternalChecksNameAModeWithSixArguments) {
    for (const auto& tmpl : templates()) {
        const Keys external = keys_of_type(tmpl["items"], "EXTERNAL");
        EXPECT_FALSE(external.empty());
        for (const auto& key : external) {
            const auto parameters = key_parameters(key, "bmc-probe");
            ASSERT_TRUE(parameters) << key;
            EXPECT_EQ(parameters->size(), 6u) << key;
            EXPECT_TRUE(is_collection_mode(parameters->front())) << key;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ZabbixTemplate, testing::ValuesIn(template_files()),
                         [](const auto& info) {
                             std::string name = info.param.stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
