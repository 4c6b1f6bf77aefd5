#include "health/zabbix_delivery.h"

#include <string_view>

#include "health/items.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/json_text.h"
#include "support/run_end.h"
#include "support/zabbix_link.h"

namespace health {
namespace {

constexpr std::size_t named_refusals = 5;

// Refusals of the fixed items and discovery documents; per-row items are
// refused as a matter of course until Zabbix has created them from a fresh
// discovery, so they are not kept.
struct Refusals {
    std::vector<std::string> keys;
    std::string first_info;
};

struct Delivery {
    support::ZabbixLink link;
    const std::string& host;
    Refusals refusals;
};

void send_counted(Delivery& delivery, const std::string& key, const support::Json& value) {
    const auto result = support::send_zabbix(delivery.link, delivery.host, key, value);
    if (result.accepted) return;
    if (delivery.refusals.keys.empty()) delivery.refusals.first_info = result.info;
    delivery.refusals.keys.push_back(key);
}

const support::Json& row_member(const DiscoveryRow& row, std::string_view macro, std::string_view list_key) {
    const auto found = row.find(macro);
    if (found == row.end())
        throw support::Failure(
            support::FailureKind::ZabbixDelivery,
            "a row of " + std::string(list_key) + " has no " + std::string(macro) + ": " + support::json_text(row));
    return *found;
}

void send_list(Delivery& delivery, const HealthSnapshot& snapshot, const DiscoveryList& list) {
    const auto& rows = snapshot.*list.rows;
    send_counted(delivery, std::string(list.key), discovery_document(rows));
    const std::string_view name_macro = list.entries.front().macro;
    for (const auto& row : rows) {
        const auto& name = row_member(row, name_macro, list.key);
        for (const auto& entry : list.entries) {
            if (entry.key_prefix.empty()) continue;  // the name, which every key carries
            support::send_zabbix(delivery.link, delivery.host, row_key(std::string(entry.key_prefix), name),
                                 row_member(row, entry.macro, list.key));
        }
    }
}

void send_fixed_items(Delivery& delivery, const HealthSnapshot& snapshot, Group group) {
    for (const auto* item : fixed_items(group))
        if (!item->key.empty()) send_counted(delivery, std::string(item->key), snapshot.*(item->field));
}

// Zabbix quotes a macro value put into a key parameter when it begins with '"',
// ' ' or '[' or holds ',' or ']'; a value ending in a backslash cannot be
// quoted, and Zabbix leaves it as it is.
std::string key_parameter(const std::string& name) {
    const bool needs_quotes = (!name.empty() && (name.front() == '"' || name.front() == ' ' || name.front() == '[')) ||
                              name.find_first_of(",]") != std::string::npos;
    if (!needs_quotes || name.back() == '\\') return name;
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

[[noreturn]] void fail_refused(const Refusals& refusals, const std::string& host) {
    std::string named;
    for (std::size_t i = 0; i < refusals.keys.size() && i < named_refusals; ++i)
        named += (i == 0 ? "" : ", ") + refusals.keys[i];
    const std::size_t more = refusals.keys.size() > named_refusals ? refusals.keys.size() - named_refusals : 0;
    throw support::Failure(support::FailureKind::ZabbixRefused,
                           "Zabbix refused " + std::to_string(refusals.keys.size()) + " value(s) for host \"" + host +
                               "\": " + named + (more ? " and " + std::to_string(more) + " more" : "") +
                               " (Zabbix: \"" + refusals.first_info +
                               "\"); check that the host and its items exist in Zabbix");
}

}  // namespace

std::string discovery_document(const std::vector<DiscoveryRow>& rows) {
    support::Json document = support::Json::object();
    document["data"] = support::Json::array();
    for (const auto& row : rows) document["data"].push_back(row);
    return support::json_text(document);
}

std::string row_key(const std::string& prefix, const support::Json& name) {
    if (!name.is_string())
        throw support::Failure(support::FailureKind::InvalidRowName, "the item key " + prefix +
                                                                         "...] cannot be built: the row name " +
                                                                         support::json_text(name) + " is not text");
    return prefix + key_parameter(name.get<std::string>()) + "]";
}

void deliver_to_zabbix(const HealthSnapshot& snapshot, const support::ZabbixServer& zabbix_server,
                       const std::string& zabbix_host) {
    Delivery delivery{support::ZabbixLink{zabbix_server}, zabbix_host, {}};
    for (const auto& group : kGroups) {
        if (const auto* list = discovery_list(group.group)) send_list(delivery, snapshot, *list);
        else send_fixed_items(delivery, snapshot, group.group);
    }
    if (!delivery.refusals.keys.empty()) fail_refused(delivery.refusals, zabbix_host);
    support::print_line("OK");
    support::end_run(0);
}

}  // namespace health
