#pragma once
// Every value the probe reports and delivers, one row each: the Zabbix key
// beside the snapshot field, the document and member path it comes from, how
// it is taken, and how the debug report shows it. The reduction, the report
// and the delivery all walk these tables, so an item is written down once.
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "health/snapshot/health_snapshot.h"

namespace health {

// The five documents of a run, as error reports name them.
enum class Document { Storage, Power, Thermal, TotalPower, PeakPower };

// How a value is taken from its member.
enum class Take {
    Value,        // as found, or "N/A"
    Rounded,      // a volt or Celsius reading, rounded to two decimals
    FlagOk,       // 1 when the text is exactly "OK"
    FlagEnabled,  // 1 when the text is exactly "Enabled"
};

// The groups of items, in the order in which they are read, reported and
// delivered.
enum class Group { Storage, PowerControl, Voltages, Fans, Temperatures, TotalPower, PeakPower };

struct GroupSource {
    Group group;
    Document document;
    // A discovery list's source array; for fixed items, an array whose
    // elements are read in turn, each overwriting the last (PowerControl).
    std::string_view array;
    std::string_view banner;  // the report's section banner
};

inline constexpr GroupSource kGroups[] = {
    {Group::Storage, Document::Storage, "",
     "  ...================================ Storage ================================..."},
    {Group::PowerControl, Document::Power, "PowerControl",
     "  ...============================ Chassi Power Control ===========================..."},
    {Group::Voltages, Document::Power, "Voltages",
     "  ...============================ Chassi Power Voltage ===========================..."},
    {Group::Fans, Document::Thermal, "Fans",
     "  ...============================ Chassi Thermal Fan ===========================..."},
    {Group::Temperatures, Document::Thermal, "Temperatures",
     "  ...============================ Chassi Thermal Temp ===========================..."},
    {Group::TotalPower, Document::TotalPower, "",
     "  ...============================ Chassi Total Power ===========================..."},
    {Group::PeakPower, Document::PeakPower, "",
     "  ...============================ Chassi Peak Power ===========================..."},
};

using Field = support::Json HealthSnapshot::*;

// Whether the report shows an item that its document does not hold.
enum class Shown {
    Always,         // as "N/A"
    WhenPublished,  // not at all: a value only some BMCs have, and the main mode never
};

// One fixed item. Within a group the rows stand in the order of reading and
// delivering.
struct FixedItem {
    std::string_view key;  // the Zabbix item key; empty: shown in the report only
    Field field;
    Group group;
    std::string_view path;  // dotted member path in the group's document or element
    Take take;
    std::string_view label;   // the report's label
    std::string_view suffix;  // the report's unit after the value
    Shown shown = Shown::Always;
};

inline constexpr FixedItem kFixedItems[] = {
    {"", &HealthSnapshot::storageName, Group::Storage, "Name", Take::Value, "Nome do Storage: ", ""},
    {"storageHealth", &HealthSnapshot::storageHealth, Group::Storage, "Status.Health", Take::FlagOk,
     "Estado do Storage: ", ""},
    {"storageHealthRollup", &HealthSnapshot::storageHealthRollup, Group::Storage, "Status.HealthRollup", Take::FlagOk,
     "Estado do Storage Rollup: ", ""},
    {"storageState", &HealthSnapshot::storageState, Group::Storage, "Status.State", Take::FlagEnabled,
     "Estado do Storage State: ", ""},

    {"", &HealthSnapshot::PowerControlName, Group::PowerControl, "Name", Take::Value, "Nome do Power Control: ", ""},
    {"powerControlConsumedWatts", &HealthSnapshot::PowerControlConsumedWatts, Group::PowerControl, "PowerConsumedWatts",
     Take::Value, "Potência Consumida (Watts): ", ""},
    {"powerControlHealth", &HealthSnapshot::PowerControlHealth, Group::PowerControl, "Status.Health", Take::FlagOk,
     "Estado do Power Control Health: ", ""},
    {"powerControlState", &HealthSnapshot::PowerControlState, Group::PowerControl, "Status.State", Take::FlagEnabled,
     "Estado do Power Control State: ", ""},

    {"totalPower", &HealthSnapshot::totalPower, Group::TotalPower, "Reading", Take::Value,
     "Potência Total (Watts): ", " W"},
    {"totalPowerMax", &HealthSnapshot::totalPowerMax, Group::TotalPower, "ReadingRangeMax", Take::Value,
     "Potência Máxima (Watts): ", " W"},
    {"totalPowerMin", &HealthSnapshot::totalPowerMin, Group::TotalPower, "ReadingRangeMin", Take::Value,
     "Potência Mínima (Watts): ", " W"},
    {"totalPowerStatus", &HealthSnapshot::totalPowerStatus, Group::TotalPower, "Status.Health", Take::FlagOk,
     "Estado da Potência Total Health: ", ""},
    {"totalPowerState", &HealthSnapshot::totalPowerState, Group::TotalPower, "Status.State", Take::FlagEnabled,
     "Estado da Potência Total State: ", ""},
    {"totalPowerThresholdLowerCritical", &HealthSnapshot::totalPowerThresholdLowerCritical, Group::TotalPower,
     "Thresholds.LowerCritical.Reading", Take::Value, "Limite Inferior Crítico: ", " W"},
    {"totalPowerThresholdUpperCritical", &HealthSnapshot::totalPowerThresholdUpperCritical, Group::TotalPower,
     "Thresholds.UpperCritical.Reading", Take::Value, "Limite Superior Crítico: ", " W"},

    {"peakPower", &HealthSnapshot::peakPower, Group::PeakPower, "Reading", Take::Value,
     "Potência de Pico (Watts): ", " W"},
    // A PowerControl entry's highest power is measured over this interval.
    {"", &HealthSnapshot::peakPowerIntervalInMin, Group::PeakPower, "IntervalInMin", Take::Value,
     "Intervalo da Potência de Pico: ", " min", Shown::WhenPublished},
    {"peakPowerThresholdLowerCaution", &HealthSnapshot::peakPowerThresholdLowerCaution, Group::PeakPower,
     "Thresholds.LowerCaution.Reading", Take::Value, "Limite Inferior de Cautela: ", " W"},
    {"peakPowerThresholdUpperCaution", &HealthSnapshot::peakPowerThresholdUpperCaution, Group::PeakPower,
     "Thresholds.UpperCaution.Reading", Take::Value, "Limite Superior de Cautela: ", " W"},
    {"peakPowerThresholdLowerCritical", &HealthSnapshot::peakPowerThresholdLowerCritical, Group::PeakPower,
     "Thresholds.LowerCritical.Reading", Take::Value, "Limite Inferior Crítico: ", " W"},
    {"peakPowerThresholdUpperCritical", &HealthSnapshot::peakPowerThresholdUpperCritical, Group::PeakPower,
     "Thresholds.UpperCritical.Reading", Take::Value, "Limite Superior Crítico: ", " W"},
    {"peakPowerStatus", &HealthSnapshot::peakPowerStatus, Group::PeakPower, "Status.Health", Take::FlagOk,
     "Estado da Potência de Pico Health: ", ""},
    {"peakPowerState", &HealthSnapshot::peakPowerState, Group::PeakPower, "Status.State", Take::FlagEnabled,
     "Estado da Potência de Pico State: ", ""},
};

// The report shows the peak power's flags before its limits; every other
// group it shows in the order of the table.
inline constexpr Field kPeakPowerReportOrder[] = {
    &HealthSnapshot::peakPower,
    &HealthSnapshot::peakPowerIntervalInMin,
    &HealthSnapshot::peakPowerStatus,
    &HealthSnapshot::peakPowerState,
    &HealthSnapshot::peakPowerThresholdLowerCaution,
    &HealthSnapshot::peakPowerThresholdUpperCaution,
    &HealthSnapshot::peakPowerThresholdLowerCritical,
    &HealthSnapshot::peakPowerThresholdUpperCritical,
};

// One entry of a discovery row: its LLD macro, the member of the array
// element it comes from, the per-row item it is delivered as and its line in
// the report.
struct RowEntry {
    std::string_view macro;
    std::string_view path;
    Take take;
    std::string_view key_prefix;  // "reading...[" + name + "]"; empty for the name itself
    std::string_view label;
    std::string_view suffix;  // the state line's line feed leaves an empty line after every row
};

// The entries stand in the row's own order: name, reading, health flag, state flag.
using RowEntries = std::array<RowEntry, 4>;

struct DiscoveryList {
    std::string_view key;  // the LLD key its discovery document goes under
    std::vector<DiscoveryRow> HealthSnapshot::*rows;
    Group group;
    RowEntries entries;
    // The reading a row carries instead of entries[1] when its element reads
    // in percent (fans, in the generic mode only): never delivered as RPM.
    // Empty macro: the list has none.
    RowEntry percent_reading{};
};

inline constexpr DiscoveryList kDiscoveryLists[] = {
    {"discovery_ChassiPower",
     &HealthSnapshot::discoveryChassiPower,
     Group::Voltages,
     {{
         {"{#VOLTAGE_NAME}", "Name", Take::Value, "", "Nome da Fonte: ", ""},
         {"{#READING_VOLTS}", "ReadingVolts", Take::Rounded, "readingVolts[", "Voltagem: ", " V"},
         {"{#VOLTAGE_HEALTH}", "Status.Health", Take::FlagOk, "voltageHealth[", "Estado da Fonte Health: ", ""},
         {"{#VOLTAGE_STATE}", "Status.State", Take::FlagEnabled, "voltageState[", "Estado da Fonte State: ", "\n"},
     }}},
    {"discovery_ChassiThermalFan",
     &HealthSnapshot::discoveryChassiThermalFan,
     Group::Fans,
     {{
         {"{#FAN_NAME}", "Name", Take::Value, "", "Nome do Fan: ", ""},
         {"{#READING_RPM}", "Reading", Take::Value, "readingRPM[", "Velocidade: ", " RPM"},
         {"{#FAN_HEALTH}", "Status.Health", Take::FlagOk, "fanHealth[", "Estado do Fan Health: ", ""},
         {"{#FAN_STATE}", "Status.State", Take::FlagEnabled, "fanState[", "Estado do Fan State: ", "\n"},
     }},
     {"{#READING_PERCENT}", "Reading", Take::Value, "readingPercent[", "Velocidade: ", " %"}},
    {"discovery_ChassiThermalTemp",
     &HealthSnapshot::discoveryChassiThermalTemp,
     Group::Temperatures,
     {{
         {"{#TEMP_NAME}", "Name", Take::Value, "", "Nome do Sensor: ", ""},
         {"{#READING_CELSIUS}", "ReadingCelsius", Take::Rounded, "readingCelsius[", "Temperatura: ", " °C"},
         {"{#TEMP_HEALTH}", "Status.Health", Take::FlagOk, "tempHealth[", "Estado da Temperatura Health: ", ""},
         {"{#TEMP_STATE}", "Status.State", Take::FlagEnabled, "tempState[", "Estado da Temperatura State: ", "\n"},
     }}},
};

// The entries of a row of the list: with the percent reading in place of
// the list's own when in_percent.
RowEntries row_entries(const DiscoveryList& list, bool in_percent);

// Whether a row of the list carries the percent reading.
bool in_percent(const DiscoveryList& list, const DiscoveryRow& row);

// The discovery list of a group, or none for a group of fixed items.
const DiscoveryList* discovery_list(Group group);

// The fixed items of a group, in table order.
std::vector<const FixedItem*> fixed_items(Group group);

// The row of a snapshot field.
const FixedItem& fixed_item(Field field);

}  // namespace health
