#include "health/console_report.h"

#include <string_view>
#include <vector>

#include "health/items.h"
#include "support/console.h"
#include "support/program.h"
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
    out += support::value_text(value);
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

// The fields of a group of fixed items, in the order the report shows them.
std::vector<Field> report_order(Group group) {
    if (group == Group::PeakPower) return {std::begin(kPeakPowerReportOrder), std::end(kPeakPowerReportOrder)};
    std::vector<Field> fields;
    for (const auto* item : fixed_items(group)) fields.push_back(item->field);
    return fields;
}

void append_rows(std::string& out, const DiscoveryList& list, const HealthSnapshot& snapshot) {
    for (const auto& row : snapshot.*(list.rows))
        for (const auto& entry : row_entries(list, in_percent(list, row)))
            append_value_line(out, entry.label, row.at(std::string(entry.macro)), entry.suffix);
}

void append_section(std::string& out, const GroupSource& group, const HealthSnapshot& snapshot) {
    append_banner(out, group.banner);
    if (const auto* list = discovery_list(group.group)) return append_rows(out, *list, snapshot);
    for (const Field field : report_order(group.group)) {
        const auto& item = fixed_item(field);
        if (item.shown == Shown::WhenPublished && snapshot.*field == "N/A") continue;
        append_value_line(out, item.label, snapshot.*field, item.suffix);
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

    for (const auto& group : kGroups) append_section(out, group, snapshot);

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
