#pragma once
// The low-level-discovery lists, one row each: the LLD key, the group it is
// read and reported in, where the generic mode reads its rows, and the
// entries of a row (LLD macro, row member, main-mode member path, how it is
// taken, per-row key prefix, report label and unit). The three sensor lists
// carry their readings and flags in the discovery document too; the lists
// of the whole server carry only what names a row, so that their documents
// change only when the rows do.
#include <span>
#include <string_view>
#include <vector>

#include "health/items.h"
#include "health/snapshot.h"
#include "redfish/service_reading.h"
#include "support/json.h"

namespace health {

struct RowEntry {
    std::string_view macro;  // empty: the entry is not in the discovery document
    support::Json SensorRow::*value;
    std::string_view path;  // the member of the main mode's array element
    Take take;
    std::string_view key_prefix;  // "reading...[" + name + "]"; empty for the name itself
    std::string_view label;
    std::string_view suffix;  // the state line's line feed leaves an empty line after every row
};

// The entries stand in the row's own order, the name first.
using RowEntries = std::vector<RowEntry>;

struct DiscoveryList {
    List list;
    std::string_view key;  // the LLD key its discovery document goes under
    Group group;
    std::vector<redfish::SensorReading> redfish::ServiceReading::*readings;
    std::span<const RowEntry> entries;
    // The reading a row carries instead of entries[1] when it reads in
    // percent (fans, in the generic mode only). Empty macro: the list has none.
    RowEntry percent_reading{};
};

inline constexpr RowEntry kVoltageEntries[] = {
    {"{#VOLTAGE_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome da Fonte: ", ""},
    {"{#READING_VOLTS}", &SensorRow::reading, "ReadingVolts", Take::Rounded, "readingVolts[", "Voltagem: ", " V"},
    {"{#VOLTAGE_HEALTH}", &SensorRow::health, "Status.Health", Take::FlagOk, "voltageHealth[",
     "Estado da Fonte Health: ", ""},
    {"{#VOLTAGE_STATE}", &SensorRow::state, "Status.State", Take::FlagEnabled, "voltageState[",
     "Estado da Fonte State: ", "\n"},
};

inline constexpr RowEntry kFanEntries[] = {
    {"{#FAN_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome do Fan: ", ""},
    {"{#READING_RPM}", &SensorRow::reading, "Reading", Take::Value, "readingRPM[", "Velocidade: ", " RPM"},
    {"{#FAN_HEALTH}", &SensorRow::health, "Status.Health", Take::FlagOk, "fanHealth[", "Estado do Fan Health: ", ""},
    {"{#FAN_STATE}", &SensorRow::state, "Status.State", Take::FlagEnabled, "fanState[", "Estado do Fan State: ", "\n"},
};

inline constexpr RowEntry kTemperatureEntries[] = {
    {"{#TEMP_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome do Sensor: ", ""},
    {"{#READING_CELSIUS}", &SensorRow::reading, "ReadingCelsius", Take::Rounded, "readingCelsius[",
     "Temperatura: ", " °C"},
    {"{#TEMP_HEALTH}", &SensorRow::health, "Status.Health", Take::FlagOk, "tempHealth[",
     "Estado da Temperatura Health: ", ""},
    {"{#TEMP_STATE}", &SensorRow::state, "Status.State", Take::FlagEnabled, "tempState[",
     "Estado da Temperatura State: ", "\n"},
};

// The components' health and state are the BMC's words.
inline constexpr RowEntry kPowerSupplyEntries[] = {
    {"{#PSU_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome da Fonte de Alimentação: ", ""},
    {"", &SensorRow::health, "Status.Health", Take::Value, "psuHealth[", "Estado da Fonte de Alimentação Health: ", ""},
    {"", &SensorRow::state, "Status.State", Take::Value, "psuState[", "Estado da Fonte de Alimentação State: ", "\n"},
};

inline constexpr RowEntry kMemoryEntries[] = {
    {"{#DIMM_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome da Memória: ", ""},
    {"", &SensorRow::health, "Status.Health", Take::Value, "memoryHealth[", "Estado da Memória Health: ", ""},
    {"", &SensorRow::state, "Status.State", Take::Value, "memoryState[", "Estado da Memória State: ", "\n"},
};

inline constexpr RowEntry kProcessorEntries[] = {
    {"{#CPU_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome do Processador: ", ""},
    {"{#CPU_TYPE}", &SensorRow::kind, "ProcessorType", Take::Value, "", "Tipo do Processador: ", ""},
    {"", &SensorRow::health, "Status.Health", Take::Value, "cpuHealth[", "Estado do Processador Health: ", ""},
    {"", &SensorRow::state, "Status.State", Take::Value, "cpuState[", "Estado do Processador State: ", "\n"},
};

inline constexpr RowEntry kDriveEntries[] = {
    {"{#DRIVE_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome do Disco: ", ""},
    {"", &SensorRow::health, "Status.Health", Take::Value, "driveHealth[", "Estado do Disco Health: ", ""},
    {"", &SensorRow::state, "Status.State", Take::Value, "driveState[", "Estado do Disco State: ", ""},
    {"", &SensorRow::failure_predicted, "FailurePredicted", Take::Value, "driveFailurePredicted[",
     "Falha Prevista do Disco: ", "\n"},
};

inline constexpr DiscoveryList kDiscoveryLists[] = {
    {List::Voltages, "discovery_ChassiPower", Group::Voltages, &redfish::ServiceReading::voltages, kVoltageEntries},
    {List::Fans,
     "discovery_ChassiThermalFan",
     Group::Fans,
     &redfish::ServiceReading::fans,
     kFanEntries,
     {"{#READING_PERCENT}", &SensorRow::reading, "Reading", Take::Value, "readingPercent[", "Velocidade: ", " %"}},
    {List::Temperatures, "discovery_ChassiThermalTemp", Group::Temperatures, &redfish::ServiceReading::temperatures,
     kTemperatureEntries},
    {List::PowerSupplies, "discovery_PowerSupplies", Group::PowerSupplies, &redfish::ServiceReading::power_supplies,
     kPowerSupplyEntries},
    {List::Memory, "discovery_Memory", Group::Memory, &redfish::ServiceReading::memory, kMemoryEntries},
    {List::Processors, "discovery_Processors", Group::Processors, &redfish::ServiceReading::processors,
     kProcessorEntries},
    {List::Drives, "discovery_Drives", Group::Drives, &redfish::ServiceReading::drives, kDriveEntries},
};

static_assert(std::size(kDiscoveryLists) == kListCount);

// The entries of a row of the list: with the percent reading in place of
// the list's own when in_percent.
RowEntries row_entries(const DiscoveryList& list, bool in_percent);

// The list a group reads, or none for a group of fixed items.
const DiscoveryList* discovery_list(Group group);

// The row as its discovery document carries it: LLD macro to value, in the
// order of the row's entries that have a macro.
support::Json lld_row(const DiscoveryList& list, const SensorRow& row);

// The entry of the list that takes the row member, or none.
const RowEntry* entry_for(const DiscoveryList& list, support::Json SensorRow::*value);

// The fixed items of a group, in table order.
std::vector<const FixedItem*> fixed_items(Group group);

}  // namespace health
