#pragma once
// The three low-level-discovery lists, one row each: the LLD key, the group
// it is read and reported in, where the generic mode reads its rows, and the
// entries of a row (LLD macro, row member, main-mode member path, how it is
// taken, per-row key prefix, report label and unit).
#include <array>
#include <string_view>
#include <vector>

#include "health/items.h"
#include "health/snapshot.h"
#include "redfish/service_reading.h"
#include "support/json.h"

namespace health {

struct RowEntry {
    std::string_view macro;
    support::Json SensorRow::*value;
    std::string_view path;  // the member of the main mode's array element
    Take take;
    std::string_view key_prefix;  // "reading...[" + name + "]"; empty for the name itself
    std::string_view label;
    std::string_view suffix;  // the state line's line feed leaves an empty line after every row
};

// The entries stand in the row's own order: name, reading, health flag, state flag.
using RowEntries = std::array<RowEntry, 4>;

struct DiscoveryList {
    List list;
    std::string_view key;  // the LLD key its discovery document goes under
    Group group;
    std::vector<redfish::SensorReading> redfish::ServiceReading::*readings;
    RowEntries entries;
    // The reading a row carries instead of entries[1] when it reads in
    // percent (fans, in the generic mode only). Empty macro: the list has none.
    RowEntry percent_reading{};
};

inline constexpr DiscoveryList kDiscoveryLists[] = {
    {List::Voltages,
     "discovery_ChassiPower",
     Group::Voltages,
     &redfish::ServiceReading::voltages,
     {{
         {"{#VOLTAGE_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome da Fonte: ", ""},
         {"{#READING_VOLTS}", &SensorRow::reading, "ReadingVolts", Take::Rounded, "readingVolts[", "Voltagem: ", " V"},
         {"{#VOLTAGE_HEALTH}", &SensorRow::health, "Status.Health", Take::FlagOk, "voltageHealth[",
          "Estado da Fonte Health: ", ""},
         {"{#VOLTAGE_STATE}", &SensorRow::state, "Status.State", Take::FlagEnabled, "voltageState[",
          "Estado da Fonte State: ", "\n"},
     }}},
    {List::Fans,
     "discovery_ChassiThermalFan",
     Group::Fans,
     &redfish::ServiceReading::fans,
     {{
         {"{#FAN_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome do Fan: ", ""},
         {"{#READING_RPM}", &SensorRow::reading, "Reading", Take::Value, "readingRPM[", "Velocidade: ", " RPM"},
         {"{#FAN_HEALTH}", &SensorRow::health, "Status.Health", Take::FlagOk, "fanHealth[",
          "Estado do Fan Health: ", ""},
         {"{#FAN_STATE}", &SensorRow::state, "Status.State", Take::FlagEnabled, "fanState[",
          "Estado do Fan State: ", "\n"},
     }},
     {"{#READING_PERCENT}", &SensorRow::reading, "Reading", Take::Value, "readingPercent[", "Velocidade: ", " %"}},
    {List::Temperatures,
     "discovery_ChassiThermalTemp",
     Group::Temperatures,
     &redfish::ServiceReading::temperatures,
     {{
         {"{#TEMP_NAME}", &SensorRow::name, "Name", Take::Value, "", "Nome do Sensor: ", ""},
         {"{#READING_CELSIUS}", &SensorRow::reading, "ReadingCelsius", Take::Rounded, "readingCelsius[",
          "Temperatura: ", " °C"},
         {"{#TEMP_HEALTH}", &SensorRow::health, "Status.Health", Take::FlagOk, "tempHealth[",
          "Estado da Temperatura Health: ", ""},
         {"{#TEMP_STATE}", &SensorRow::state, "Status.State", Take::FlagEnabled, "tempState[",
          "Estado da Temperatura State: ", "\n"},
     }}},
};

static_assert(std::size(kDiscoveryLists) == kListCount);

// The entries of a row of the list: with the percent reading in place of
// the list's own when in_percent.
RowEntries row_entries(const DiscoveryList& list, bool in_percent);

// The list a group reads, or none for a group of fixed items.
const DiscoveryList* discovery_list(Group group);

// The row as its discovery document carries it: LLD macro to value, in the
// order of the row's entries.
support::Json lld_row(const DiscoveryList& list, const SensorRow& row);

// The fixed items of a group, in table order.
std::vector<const FixedItem*> fixed_items(Group group);

}  // namespace health
