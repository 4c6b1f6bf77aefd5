#pragma once
// What a run makes of a snapshot, without sending it: the report, each list's
// discovery document and every per-row key.
#include "health/console_report.h"
#include "health/lists.h"
#include "health/zabbix_delivery.h"

namespace fuzz {

inline void render(const health::HealthSnapshot& snapshot) {
    (void)health::debug_report_text(snapshot);
    for (const auto& list : health::kDiscoveryLists) {
        const auto& rows = snapshot[list.list];
        (void)health::discovery_document(list, rows);
        for (const auto& row : rows)
            for (const auto& entry : health::row_entries(list, row.in_percent))
                if (!entry.key_prefix.empty()) (void)health::row_key(std::string(entry.key_prefix), row.name);
    }
}

}  // namespace fuzz
