// The item tables hold together: a row added in the wrong group, a key or
// field named twice, or a group the report or the delivery would skip shows
// here rather than as a missing value in Zabbix.
#include "health/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using health::Group;

TEST(ItemTables, EveryGroupIsReadOnceAndHoldsEitherFixedItemsOrOneList) {
    std::set<Group> seen;
    for (const auto& group : health::kGroups) {
        EXPECT_TRUE(seen.insert(group.group).second);
        const bool is_list = health::discovery_list(group.group) != nullptr;
        EXPECT_NE(is_list, !health::fixed_items(group.group).empty()) << group.banner;
        if (is_list) {
            EXPECT_FALSE(group.array.empty()) << group.banner;
        }
    }
    for (const auto& item : health::kFixedItems) EXPECT_TRUE(seen.count(item.group)) << item.key;
    for (const auto& list : health::kDiscoveryLists) EXPECT_TRUE(seen.count(list.group)) << list.key;
}

TEST(ItemTables, KeysAndMacrosAreNamedOnce) {
    std::set<std::string> keys;
    for (const auto& item : health::kFixedItems) {
        if (!item.key.empty()) {
            EXPECT_TRUE(keys.insert(std::string(item.key)).second) << item.key;
        }
    }
    for (const auto& list : health::kDiscoveryLists) {
        EXPECT_TRUE(keys.insert(std::string(list.key)).second) << list.key;
        EXPECT_TRUE(list.entries.front().key_prefix.empty()) << "the first entry is the row's name: " << list.key;
        std::set<std::string> macros;
        std::vector<health::RowEntry> entries(list.entries.begin(), list.entries.end());
        if (!list.percent_reading.macro.empty()) entries.push_back(list.percent_reading);
        for (const auto& entry : entries) {
            if (!entry.macro.empty()) {  // an entry the discovery document does not carry
                EXPECT_TRUE(macros.insert(std::string(entry.macro)).second) << entry.macro;
            }
            if (!entry.key_prefix.empty()) {
                EXPECT_TRUE(keys.insert(std::string(entry.key_prefix)).second) << entry.key_prefix;
            }
        }
    }
}


}  // namespace
