#include "health/console_report.h"

#include <span>
#include <string_view>
#include <vector>

#include "run/constants.h"
#include "support/console.h"
#include "support/run_end.h"
#include "support/value_text.h"

namespace health {
namespace {

using support::Json;

// A line of a snapshot field.
struct FieldLine {
    std::string_view label;
    Json HealthSnapshot::*field;
    std::string_view suffix;
};

// A line of one discovery row's entry, read by its macro.
struct RowLine {
    std::string_view label;
    std::string_view macro;
    std::string_view suffix;
};

// A section lists either snapshot fields or the rows of one discovery list.
struct Section {
    std::string_view banner;
    std::span<const FieldLine> fields;
    std::vector<DiscoveryRow> HealthSnapshot::*rows;
    std::span<const RowLine> row_lines;
};

constexpr FieldLine kStorageLines[] = {
    {"Nome do Storage: ", &HealthSnapshot::storageName, ""},
    {"Estado do Storage: ", &HealthSnapshot::storageHealth, ""},
    {"Estado do Storage Rollup: ", &HealthSnapshot::storageHealthRollup, ""},
    {"Estado do Storage State: ", &HealthSnapshot::storageState, ""},
};

constexpr FieldLine kPowerControlLines[] = {
    {"Nome do Power Control: ", &HealthSnapshot::PowerControlName, ""},
    {"Potência Consumida (Watts): ", &HealthSnapshot::PowerControlConsumedWatts, ""},
    {"Estado do Power Control Health: ", &HealthSnapshot::PowerControlHealth, ""},
    {"Estado do Power Control State: ", &HealthSnapshot::PowerControlState, ""},
};

// The state line of each row ends with an extra line feed: an empty line
// after every row.
constexpr RowLine kVoltageLines[] = {
    {"Nome da Fonte: ", "{#VOLTAGE_NAME}", ""},
    {"Voltagem: ", "{#READING_VOLTS}", " V"},
    {"Estado da Fonte Health: ", "{#VOLTAGE_HEALTH}", ""},
    {"Estado da Fonte State: ", "{#VOLTAGE_STATE}", "\n"},
};

constexpr RowLine kFanLines[] = {
    {"Nome do Fan: ", "{#FAN_NAME}", ""},
    {"Velocidade: ", "{#READING_RPM}", " RPM"},
    {"Estado do Fan Health: ", "{#FAN_HEALTH}", ""},
    {"Estado do Fan State: ", "{#FAN_STATE}", "\n"},
};

constexpr RowLine kTempLines[] = {
    {"Nome do Sensor: ", "{#TEMP_NAME}", ""},
    {"Temperatura: ", "{#READING_CELSIUS}", " °C"},
    {"Estado da Temperatura Health: ", "{#TEMP_HEALTH}", ""},
    {"Estado da Temperatura State: ", "{#TEMP_STATE}", "\n"},
};

constexpr FieldLine kTotalPowerLines[] = {
    {"Potência Total (Watts): ", &HealthSnapshot::totalPower, " W"},
    {"Potência Máxima (Watts): ", &HealthSnapshot::totalPowerMax, " W"},
    {"Potência Mínima (Watts): ", &HealthSnapshot::totalPowerMin, " W"},
    {"Estado da Potência Total Health: ", &HealthSnapshot::totalPowerStatus, ""},
    {"Estado da Potência Total State: ", &HealthSnapshot::totalPowerState, ""},
    {"Limite Inferior Crítico: ", &HealthSnapshot::totalPowerThresholdLowerCritical, " W"},
    {"Limite Superior Crítico: ", &HealthSnapshot::totalPowerThresholdUpperCritical, " W"},
};

constexpr FieldLine kPeakPowerLines[] = {
    {"Potência de Pico (Watts): ", &HealthSnapshot::peakPower, " W"},
    {"Estado da Potência de Pico Health: ", &HealthSnapshot::peakPowerStatus, ""},
    {"Estado da Potência de Pico State: ", &HealthSnapshot::peakPowerState, ""},
    {"Limite Inferior de Cautela: ", &HealthSnapshot::peakPowerThresholdLowerCaution, " W"},
    {"Limite Superior de Cautela: ", &HealthSnapshot::peakPowerThresholdUpperCaution, " W"},
    {"Limite Inferior Crítico: ", &HealthSnapshot::peakPowerThresholdLowerCritical, " W"},
    {"Limite Superior Crítico: ", &HealthSnapshot::peakPowerThresholdUpperCritical, " W"},
};

constexpr Section kSections[] = {
    {"  ...================================ Storage ================================...", kStorageLines, nullptr, {}},
    {"  ...============================ Chassi Power Control ===========================...", kPowerControlLines,
     nullptr, {}},
    {"  ...============================ Chassi Power Voltage ===========================...", {},
     &HealthSnapshot::discoveryChassiPower, kVoltageLines},
    {"  ...============================ Chassi Thermal Fan ===========================...", {},
     &HealthSnapshot::discoveryChassiThermalFan, kFanLines},
    {"  ...============================ Chassi Thermal Temp ===========================...", {},
     &HealthSnapshot::discoveryChassiThermalTemp, kTempLines},
    {"  ...============================ Chassi Total Power ===========================...", kTotalPowerLines,
     nullptr, {}},
    {"  ...============================ Chassi Peak Power ===========================...", kPeakPowerLines,
     nullptr, {}},
};

void append_line(std::string& out, std::string_view text) {
    out += text;
    out += '\n';
}

void append_value_line(std::string& out, std::string_view label, const Json& value, std::string_view suffix) {
    out += run::GREEN;
    out += label;
    out += run::RESET;
    out += support::value_text(value);
    out += suffix;
    out += '\n';
}

void append_banner(std::string& out, std::string_view banner) {
    out += run::CYAN;
    out += '\n';
    out += banner;
    out += '\n';
    out += run::RESET;
    out += '\n';
}

void append_section(std::string& out, const Section& section, const HealthSnapshot& snapshot) {
    append_banner(out, section.banner);
    for (const auto& line : section.fields) append_value_line(out, line.label, snapshot.*(line.field), line.suffix);
    if (section.rows == nullptr) return;
    for (const auto& row : snapshot.*(section.rows))
        for (const auto& line : section.row_lines)
            append_value_line(out, line.label, row.at(std::string(line.macro)), line.suffix);
}

}  // namespace

std::string debug_report_text(const HealthSnapshot& snapshot) {
    std::string out;
    out += run::RED;
    append_line(out, "Modo debug ativado:");
    out += run::GREEN;
    out += "\nVersão do script: ";
    out += run::RESET;
    append_line(out, run::VERSION);

    for (const auto& section : kSections) append_section(out, section, snapshot);

    out += run::YELLOW;
    append_line(out, "\nCaso nenhum dos comandos responda:\n");
    append_line(out, "1 - Confirmar qual o modelo da dispositivo.");
    append_line(out, "2 - Confirmar se o usuário tem permissão para realizar o comando citado acima.");
    out += "3 - Entrar em contato com o setor de desenvolvimento da Quorvane!";
    append_line(out, run::RESET);
    return out;
}

void print_debug_report(const HealthSnapshot& snapshot) {
    support::print_text(debug_report_text(snapshot));
    support::end_run(0);
}

}  // namespace health
