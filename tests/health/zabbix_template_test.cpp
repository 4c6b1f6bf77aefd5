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
#include <map>
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

bool is_whole_server(const health::DiscoveryList& list) {
    for (const auto& group : health::kGroups)
        if (group.group == list.group) return group.whole_server;
    return false;
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

            // The whole server's lists carry only what names a row, all kept. Of the sensor lists only the
            // name keeps its value; the readings are kept as present or not, health and state not at all.
            if (is_whole_server(list)) {
                Keys macros;
                for (const auto& entry : list.entries)
                    if (!entry.macro.empty()) macros.insert(std::string(entry.macro));
                EXPECT_EQ(kept, macros) << list.key;
                EXPECT_EQ(present, Keys{}) << list.key;
                continue;
            }
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

// The TRAP items and item prototypes of a template, and every trigger and
// trigger prototype in it (those under items, rules and the template's own).
struct TemplateParts {
    std::vector<YAML::Node> items;
    std::vector<YAML::Node> triggers;
};

TemplateParts parts_of(const YAML::Node& root, const YAML::Node& tmpl) {
    TemplateParts parts;
    const auto take = [&](const YAML::Node& items, const char* triggers) {
        for (const auto& item : items) {
            if (item["type"].as<std::string>() == "TRAP") parts.items.push_back(item);
            for (const auto& trigger : item[triggers]) parts.triggers.push_back(trigger);
        }
    };
    take(tmpl["items"], "triggers");
    for (const auto& rule : tmpl["discovery_rules"]) {
        take(rule["item_prototypes"], "trigger_prototypes");
        for (const auto& trigger : rule["trigger_prototypes"]) parts.triggers.push_back(trigger);
    }
    for (const auto& trigger : root["triggers"]) parts.triggers.push_back(trigger);
    return parts;
}

// Whether a trigger expression of the forms the template uses for words holds
// when the item key has the value word: terms last(/host/key)="w" or <>"w",
// and length(last(/host/other))>=0 (true once that item has a value), all
// joined by "and" or all by "or". No value when the expression takes no
// part in the item's value, or is of another form.
std::optional<bool> holds(const std::string& expression, const std::string& key, const std::string& word) {
    static const std::regex joiner(R"( (and|or) )");
    static const std::regex compare(R"re(last\(/[^/]+/(.+)\)(=|<>)"([^"]*)")re");
    static const std::regex has_value(R"(length\(last\(/[^/]+/.+\)\)>=0)");
    std::vector<std::string> terms, joiners;
    std::sregex_token_iterator it(expression.begin(), expression.end(), joiner, {-1, 1}), end;
    for (bool term = true; it != end; ++it, term = !term) (term ? terms : joiners).push_back(*it);
    bool uses_key = false, all = true, any = false;
    for (const auto& term : terms) {
        std::smatch found;
        bool value = true;
        if (std::regex_match(term, found, compare) && found[1] == key) {
            uses_key = true;
            value = (found[3] == word) == (found[2] == "=");
        } else if (!std::regex_match(term, has_value)) {
            return std::nullopt;
        }
        all = all && value;
        any = any || value;
    }
    const bool mixed = std::set<std::string>(joiners.begin(), joiners.end()).size() > 1;
    if (!uses_key || mixed) return std::nullopt;
    return joiners.empty() || joiners.front() == "and" ? all : any;
}

// The problems a word opens on the items whose key ends in the suffix: the
// priority of the one trigger that fires and none it depends on fires, or
// none. Words the BMC does not publish ("N/A") never open one.
struct WordCase {
    const char* suffix;
    const char* word;
    const char* priority;  // empty: no problem
};
constexpr WordCase kWordCases[] = {
    // clang-format off
    {"Health", "OK", ""}, {"Health", "Warning", "WARNING"}, {"Health", "Critical", "HIGH"}, {"Health", "N/A", ""},
    {"HealthRollup", "OK", ""}, {"HealthRollup", "Warning", "WARNING"}, {"HealthRollup", "Critical", "HIGH"},
    {"HealthRollup", "N/A", ""},
    {"State", "Enabled", ""}, {"State", "StandbyOffline", ""}, {"State", "Disabled", ""},
    {"State", "UnavailableOffline", "AVERAGE"}, {"State", "N/A", ""},
    {"FailurePredicted", "true", "WARNING"}, {"FailurePredicted", "false", ""}, {"FailurePredicted", "N/A", ""},
    // clang-format on
};

TEST_P(ZabbixTemplate, WordItemsOpenOneProblemOfTheWordsSeverity) {
    const YAML::Node root = YAML::LoadFile(GetParam().string())["zabbix_export"];
    for (const auto& tmpl : root["templates"]) {
        const TemplateParts parts = parts_of(root, tmpl);
        std::set<std::string> checked;
        for (const auto& item : parts.items) {
            const auto key = item["key"].as<std::string>();
            const auto name = key.substr(0, key.find('['));
            for (const auto& c : kWordCases) {
                const std::string suffix = c.suffix;
                if (!name.ends_with(suffix) || name == suffix || (suffix == "Health" && name.ends_with("HealthRollup")))
                    continue;
                if (item["value_type"].as<std::string>() != "CHAR") {
                    checked.insert(key + " (" + item["value_type"].as<std::string>() + ")");
                    continue;  // a flag of the older lists, 0 or 1, with triggers of its own
                }
                std::vector<std::pair<std::string, YAML::Node>> fired;
                for (const auto& trigger : parts.triggers) {
                    const auto expression = trigger["expression"].as<std::string>();
                    const auto fires = holds(expression, key, c.word);
                    if (expression.find("/" + key + ")") != std::string::npos && !fires)
                        ADD_FAILURE() << "cannot evaluate " << expression;
                    if (fires.value_or(false)) fired.emplace_back(trigger["priority"].as<std::string>(), trigger);
                }
                std::vector<std::string> shown;
                for (const auto& [priority, trigger] : fired) {
                    bool master_fires = false;
                    for (const auto& dependency : trigger["dependencies"])
                        master_fires = master_fires ||
                                       holds(dependency["expression"].as<std::string>(), key, c.word).value_or(false);
                    if (!master_fires) shown.push_back(priority);
                }
                const std::vector<std::string> wanted =
                    *c.priority ? std::vector<std::string>{c.priority} : std::vector<std::string>{};
                EXPECT_EQ(shown, wanted) << key << " = \"" << c.word << "\"";
                checked.insert(key);
            }
        }
        // The system's own words and one row item of each list whose words open problems.
        for (const auto* key : {"systemHealth", "systemHealthRollup", "systemState", "psuHealth[{#PSU_NAME}]",
                                "memoryState[{#DIMM_NAME}]", "cpuHealth[{#CPU_NAME}]",
                                "driveFailurePredicted[{#DRIVE_NAME}]"})
            EXPECT_TRUE(checked.count(key)) << key << " is not a character item with word triggers";
    }
}

// The whole server's values are the BMC's words and texts: numeric items would refuse them.
TEST_P(ZabbixTemplate, WholeServerItemsAndPrototypesTakeText) {
    Keys words;
    for (const auto& item : health::kFixedItems)
        for (const auto& group : health::kGroups)
            if (group.group == item.group && group.whole_server) words.insert(std::string(item.key));
    for (const auto& list : health::kDiscoveryLists)
        if (is_whole_server(list)) {
            const auto keys = delivered_prototype_keys(list);
            words.insert(keys.begin(), keys.end());
        }
    EXPECT_EQ(words.size(), 20u);  // 11 of the system, 9 per-row items of four lists
    const YAML::Node root = YAML::LoadFile(GetParam().string())["zabbix_export"];
    for (const auto& tmpl : root["templates"]) {
        Keys seen;
        for (const auto& item : parts_of(root, tmpl).items) {
            const auto key = item["key"].as<std::string>();
            if (!words.count(key)) continue;
            seen.insert(key);
            EXPECT_EQ(item["value_type"].as<std::string>(), key == "systemConditions" ? "TEXT" : "CHAR") << key;
        }
        EXPECT_EQ(seen, words);
    }
}

TEST_P(ZabbixTemplate, SystemItemsFillTheHostInventory) {
    const std::map<std::string, std::string> wanted = {
        {"systemManufacturer", "VENDOR"}, {"systemModel", "MODEL"}, {"systemSerialNumber", "SERIALNO_A"},
        {"systemPartNumber", "HARDWARE"}, {"systemSku", "SERIALNO_B"}, {"biosVersion", "SOFTWARE_APP_A"},
        {"bmcFirmwareVersion", "SOFTWARE_APP_B"}};
    for (const auto& tmpl : templates()) {
        std::map<std::string, std::string> linked;
        for (const auto& item : tmpl["items"])
            if (item["inventory_link"])
                linked[item["key"].as<std::string>()] = item["inventory_link"].as<std::string>();
        EXPECT_EQ(linked, wanted);
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
