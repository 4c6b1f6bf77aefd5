#include "health/items.h"

#include <stdexcept>

namespace health {

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
