#include "health/zabbix_delivery.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "support/console.h"
#include "support/failure.h"
#include "support/json_text.h"
#include "support/shown_text.h"
#include "zabbix/link.h"

namespace health {
namespace {

// A refusal names the first keys of a request Zabbix refused whole; of one it
// refused in part, whose refused keys Zabbix does not tell, every candidate.
constexpr std::size_t named_refusals = 5;
constexpr std::size_t named_candidates = 30;

// Per-row items are refused as a matter of course until Zabbix has created
// them from a fresh discovery, so their refusals do not count.
void send_list(zabbix::ZabbixLink& link, const std::string& host, const HealthSnapshot& snapshot,
               const DiscoveryList& list) {
    const auto& rows = snapshot[list.list];
    zabbix::send_zabbix(link, host, std::string(list.key), discovery_document(list, rows));
    for (const auto& row : rows) {
        for (const auto& entry : row_entries(list, row.in_percent)) {
            if (entry.key_prefix.empty()) continue;  // the name, which every key carries
            zabbix::send_zabbix(link, host, row_key(std::string(entry.key_prefix), row.name),
                                row.*(entry.value), zabbix::Refusal::Expected);
        }
    }
}

void send_fixed_items(zabbix::ZabbixLink& link, const std::string& host, const HealthSnapshot& snapshot, Group group) {
    for (const auto* item : fixed_items(group))
        if (!item->key.empty())
            zabbix::send_zabbix(link, host, std::string(item->key), snapshot[item->item]);
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

std::string key_list(const std::vector<std::string>& keys, std::size_t named) {
    std::string list;
    for (std::size_t i = 0; i < keys.size() && i < named; ++i)
        list += (i == 0 ? "" : ", ") + support::shown_text(keys[i]);
    return keys.size() > named ? list + " and " + std::to_string(keys.size() - named) + " more" : list;
}

// Fails when Zabbix refused values whose refusal counts.
void check_refusals(const std::vector<zabbix::RequestAnswer>& answers, const std::string& host) {
    std::uint64_t refused = 0;
    std::vector<std::string> keys;
    std::string first_info;
    bool whole = true;
    for (const auto& answer : answers) {
        if (answer.refusal != zabbix::Refusal::Counts || answer.result.failed == 0) continue;
        refused += std::min<std::uint64_t>(answer.result.failed, answer.keys.size());
        whole = whole && answer.result.failed >= answer.keys.size();
        keys.insert(keys.end(), answer.keys.begin(), answer.keys.end());
        if (first_info.empty()) first_info = answer.result.info;
    }
    if (refused == 0) return;
    const std::string which = whole ? ": " + key_list(keys, named_refusals)
                                    : " among these " + std::to_string(keys.size()) +
                                          ", without saying which: " + key_list(keys, named_candidates);
    throw support::Failure(support::FailureKind::ZabbixRefused,
                           "Zabbix refused " + std::to_string(refused) + " value(s) for host \"" + host + "\"" + which +
                               " (Zabbix: \"" + first_info + "\"); check that the host and its items exist in Zabbix");
}

}  // namespace

std::string discovery_document(const DiscoveryList& list, const std::vector<SensorRow>& rows) {
    // The text json_text gives {"data": rows}, written row by row.
    std::string document = "{\"data\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) document += ", ";
        support::append_json_text(document, lld_row(list, rows[i]));
    }
    return document + "]}";
}

std::string row_key(const std::string& prefix, const support::Json& name) {
    if (!name.is_string())
        throw support::Failure(support::FailureKind::InvalidRowName, "the item key " + prefix +
                                                                         "...] cannot be built: the row name " +
                                                                         support::json_text(name) + " is not text");
    return prefix + key_parameter(name.get<std::string>()) + "]";
}

void gather_for_zabbix(const HealthSnapshot& snapshot, zabbix::ZabbixLink& link, const std::string& zabbix_host) {
    for (const auto& group : kGroups) {
        if (const auto* list = discovery_list(group.group)) send_list(link, zabbix_host, snapshot, *list);
        else send_fixed_items(link, zabbix_host, snapshot, group.group);
    }
}

void deliver_to_zabbix(const HealthSnapshot& snapshot, const zabbix::ZabbixServer& zabbix_server,
                       const std::string& zabbix_host, support::RunGuard& guard) {
    zabbix::ZabbixLink link{zabbix_server, &guard};
    try {
        gather_for_zabbix(snapshot, link, zabbix_host);
    } catch (...) {
        // What was gathered before the failure goes out first, as it would have
        // value by value; then the run fails for what stopped the delivery.
        (void)zabbix::send_gathered(link);
        throw;
    }
    check_refusals(zabbix::send_gathered(link), zabbix_host);
    support::print_line("OK");
}

}  // namespace health
