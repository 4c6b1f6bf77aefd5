// The Zabbix templates in zabbix/ against what the probe delivers: a trapper
// item, discovery rule or item prototype that the probe never fills would sit
// empty in Zabbix, and a value the probe sends without an item is refused, so
// both sides must name exactly the same keys. Their external checks must name
// a mode the probe has, with the six arguments it takes.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cctype>
#include <filesystem>
#include <optional>
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
