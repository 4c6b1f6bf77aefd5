#include "health/lists.h"

namespace health {

support::Json default_value(Take take) {
    return take == Take::FlagOk || take == Take::FlagEnabled ? support::Json(0) : kNotAvailable;
}

std::array<support::Json, kItemCount> default_values() {
    std::array<support::Json, kItemCount> values;
    for (std::size_t i = 0; i < kItemCount; ++i) values[i] = default_value(kFixedItems[i].take);
    return values;
}

RowEntries row_entries(const DiscoveryList& list, bool in_percent) {
    RowEntries entries(list.entries.begin(), list.entries.end());
    if (in_percent && !list.percent_reading.macro.empty())
        for (auto& entry : entries)
            if (entry.value == list.percent_reading.value) entry = list.percent_reading;
    return entries;
}

const RowEntry* entry_for(const DiscoveryList& list, support::Json SensorRow::*value) {
    for (const auto& entry : list.entries)
        if (entry.value == value) return &entry;
    return nullptr;
}

const DiscoveryList* discovery_list(Group group) {
    for (const auto& list : kDiscoveryLists)
        if (list.group == group) return &list;
    return nullptr;
}

support::Json lld_row(const DiscoveryList& list, const SensorRow& row) {
    support::Json made = support::Json::object();
    for (const auto& entry : row_entries(list, row.in_percent))
        if (!entry.macro.empty()) made[std::string(entry.macro)] = row.*(entry.value);
    return made;
}

std::vector<const FixedItem*> fixed_items(Group group) {
    std::vector<const FixedItem*> items;
    for (const auto& item : kFixedItems)
        if (item.group == group) items.push_back(&item);
    return items;
}

}  // namespace health
