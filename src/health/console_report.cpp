#include "health/console_report.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "health/lists.h"
#include "support/console.h"
#include "support/program.h"
#include "support/shown_text.h"
#include "support/value_text.h"

namespace health {
namespace {

using support::Json;

void append_line(std::string& out, std::string_view text) {
    out += text;
    out += '\n';
}

void append_value_line(std::string& out, std::string_view label, const Json& value, std::string_view suffix) {
    out += support::GREEN;
    out += label;
    out += support::RESET;
    out += support::shown_text(support::value_text(value));
    out += suffix;
    out += '\n';
}

void append_banner(std::string& out, std::string_view banner) {
    out += support::CYAN;
    out += '\n';
    out += banner;
    out += '\n';
    out += support::RESET;
    out += '\n';
}

// The items of a group, in the order the report shows them.
std::vector<const FixedItem*> report_order(Group group) {
    auto items = fixed_items(group);
    std::stable_sort(items.begin(), items.end(),
                     [](const FixedItem* a, const FixedItem* b) { return a->report_rank < b->report_rank; });
    return items;
}

void append_rows(std::string& out, const DiscoveryList& list, const HealthSnapshot& snapshot) {
    for (const auto& row : snapshot[list.list])
        for (const auto& entry : row_entries(list, row.in_percent))
            append_value_line(out, entry.label, row.*(entry.value), entry.suffix);
}

void append_section(std::string& out, const GroupSource& group, const HealthSnapshot& snapshot) {
    append_banner(out, group.banner);
    if (const auto* list = discovery_list(group.group)) return append_rows(out, *list, snapshot);
    for (const auto* item : report_order(group.group)) {
        const Json& value = snapshot[item->item];
        if (item->shown == Shown::WhenPublished && value == kNotAvailable) continue;
        append_value_line(out, item->label, value, item->suffix);
    }
}

}  // namespace

std::string debug_report_text(const HealthSnapshot& snapshot) {
    std::string out;
    out += support::RED;
    append_line(out, "Modo debug ativado:");
    out += support::GREEN;
    out += "\nVersão do script: ";
    out += support::RESET;
    append_line(out, support::VERSION);

    for (const auto& group : kGroups)
        if (!group.whole_server || snapshot.whole_server) append_section(out, group, snapshot);

    out += support::YELLOW;
    append_line(out, "\nCaso nenhum dos comandos responda:\n");
    append_line(out, "1 - Confirmar qual o modelo da dispositivo.");
    append_line(out, "2 - Confirmar se o usuário tem permissão para realizar o comando citado acima.");
    out += "3 - Entrar em contato com o setor de desenvolvimento da Quorvane!";
    append_line(out, support::RESET);
    return out;
}

void print_debug_report(const HealthSnapshot& snapshot) { support::print_text(debug_report_text(snapshot)); }

}  // namespace health
