#include "health/items.h"

#include <stdexcept>

namespace health {

RowEntries row_entries(const DiscoveryList& list, bool in_percent) {
    RowEntries entries = list.entries;
    if (in_percent && !list.percent_reading.macro.empty()) entries[1] = list.percent_reading;
    return entries;
}

bool in_percent(const DiscoveryList& list, const DiscoveryRow& row) {
    return !list.percent_reading.macro.empty() && row.contains(list.percent_reading.macro);
}

const DiscoveryList* discovery_list(Group group) {
    for (const auto& list : kDiscoveryLists)
        if (list.group == group) return &list;
    return nullptr;
}

std::vector<const FixedItem*> fixed_items(Group group) {
    std::vector<const FixedItem*> items;
    for (const auto& item : kFixedItems)
        if (item.group == group) items.push_back(&item);
    return items;
}

const FixedItem& fixed_item(Field field) {
    for (const auto& item : kFixedItems)
        if (item.field == field) return item;
    throw std::logic_error("a snapshot field without a row in the item table");
}

}  // namespace health
