#pragma once
// Every value the probe reports and delivers, one row each: the Zabbix key,
// the group and member it comes from in either mode, how it is taken, and
// how the debug report shows it. The reductions, the report and the delivery
// all walk these tables, so an item is written down once.
#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "redfish/readers.h"
#include "redfish/service_reading.h"

namespace health {

// How a value is taken from its member.
enum class Take {
    Value,        // as found, or "N/A"
    Rounded,      // a volt or Celsius reading, rounded to two decimals
    FlagOk,       // 1 when the text is exactly "OK"
    FlagEnabled,  // 1 when the text is exactly "Enabled"
};

// The groups of items, in the order in which they are read, reported and
// delivered.
enum class Group {
    Storage,
    PowerControl,
    Voltages,
    Fans,
    Temperatures,
    TotalPower,
    PeakPower,
    System,
    PowerSupplies,
    Memory,
    Processors,
    Drives,
};

struct GroupSource {
    Group group;
    redfish::HeldDocument document;  // where the main mode reads it
    // A discovery list's source array; for fixed items, an array whose
    // elements are read in turn, each overwriting the last (PowerControl).
    std::string_view array;
    // Where the generic mode reads a group of fixed items.
    redfish::PartReading redfish::ServiceReading::*part;
    std::string_view banner;  // the report's section banner
    // Read only by the generic mode on a service walked from its root: the
    // main mode neither reads, reports nor delivers it.
    bool whole_server = false;
};

inline constexpr GroupSource kGroups[] = {
    {Group::Storage, &redfish::Documents::getStorage, "", &redfish::ServiceReading::storage,
     "  ...================================ Storage ================================..."},
    {Group::PowerControl, &redfish::Documents::getChassiPower, "PowerControl", &redfish::ServiceReading::power_control,
     "  ...============================ Chassi Power Control ===========================..."},
    {Group::Voltages, &redfish::Documents::getChassiPower, "Voltages", nullptr,
     "  ...============================ Chassi Power Voltage ===========================..."},
    {Group::Fans, &redfish::Documents::getChassiThermal, "Fans", nullptr,
     "  ...============================ Chassi Thermal Fan ===========================..."},
    {Group::Temperatures, &redfish::Documents::getChassiThermal, "Temperatures", nullptr,
     "  ...============================ Chassi Thermal Temp ===========================..."},
    {Group::TotalPower, &redfish::Documents::getChassiTotalPower, "", &redfish::ServiceReading::total_power,
     "  ...============================ Chassi Total Power ===========================..."},
    {Group::PeakPower, &redfish::Documents::getChassiPeakPower, "", &redfish::ServiceReading::peak_power,
     "  ...============================ Chassi Peak Power ===========================..."},
    {Group::System, nullptr, "", &redfish::ServiceReading::system,
     "  ...================================ Sistema ================================...", true},
    {Group::PowerSupplies, nullptr, "PowerSupplies", nullptr,
     "  ...========================= Fontes de Alimentação =========================...", true},
    {Group::Memory, nullptr, "Memory", nullptr,
     "  ...================================ Memória ================================...", true},
    {Group::Processors, nullptr, "Processors", nullptr,
     "  ...============================= Processadores =============================...", true},
    {Group::Drives, nullptr, "Drives", nullptr,
     "  ...================================= Discos ================================...", true},
};

// The fixed items, named as their rows of kFixedItems stand.
enum class Item {
    storageName,
    storageHealth,
    storageHealthRollup,
    storageState,
    PowerControlName,
    PowerControlConsumedWatts,
    PowerControlHealth,
    PowerControlState,
    totalPower,
    totalPowerMax,
    totalPowerMin,
    totalPowerStatus,
    totalPowerState,
    totalPowerThresholdLowerCritical,
    totalPowerThresholdUpperCritical,
    peakPower,
    peakPowerIntervalInMin,
    peakPowerThresholdLowerCaution,
    peakPowerThresholdUpperCaution,
    peakPowerThresholdLowerCritical,
    peakPowerThresholdUpperCritical,
    peakPowerStatus,
    peakPowerState,
    systemHealth,
    systemHealthRollup,
    systemState,
    systemConditions,
    systemManufacturer,
    systemModel,
    systemSerialNumber,
    systemPartNumber,
    systemSku,
    biosVersion,
    bmcFirmwareVersion,
};

// Whether the report shows an item that its document does not hold.
enum class Shown {
    Always,         // as "N/A"
    WhenPublished,  // not at all: a value only some BMCs have, and the main mode never
};

using redfish::Member;

// One fixed item. Within a group the rows stand in the order of reading and
// delivering; the report shows a group's rows by their report_rank, then in
// that order.
struct FixedItem {
    Item item;
    std::string_view key;  // the Zabbix item key; empty: shown in the report only
    Group group;
    std::string_view path;  // dotted member path in the group's document or element
    Member member;          // the member of the group's part in the generic mode
    Take take;
    std::string_view label;   // the report's label
    std::string_view suffix;  // the report's unit after the value
    Shown shown = Shown::Always;
    int report_rank = 0;
};

// The peak power's flags stand before its limits in the report.
constexpr int kAfterFlags = 2, kFlags = 1;

inline constexpr FixedItem kFixedItems[] = {
    {Item::storageName, "", Group::Storage, "Name", Member::Name, Take::Value, "Nome do Storage: ", ""},
    {Item::storageHealth, "storageHealth", Group::Storage, "Status.Health", Member::Health, Take::FlagOk,
     "Estado do Storage: ", ""},
    {Item::storageHealthRollup, "storageHealthRollup", Group::Storage, "Status.HealthRollup", Member::HealthRollup,
     Take::FlagOk, "Estado do Storage Rollup: ", ""},
    {Item::storageState, "storageState", Group::Storage, "Status.State", Member::State, Take::FlagEnabled,
     "Estado do Storage State: ", ""},

    {Item::PowerControlName, "", Group::PowerControl, "Name", Member::Name, Take::Value, "Nome do Power Control: ", ""},
    {Item::PowerControlConsumedWatts, "powerControlConsumedWatts", Group::PowerControl, "PowerConsumedWatts",
     Member::Reading, Take::Value, "Potência Consumida (Watts): ", ""},
    {Item::PowerControlHealth, "powerControlHealth", Group::PowerControl, "Status.Health", Member::Health, Take::FlagOk,
     "Estado do Power Control Health: ", ""},
    {Item::PowerControlState, "powerControlState", Group::PowerControl, "Status.State", Member::State,
     Take::FlagEnabled, "Estado do Power Control State: ", ""},

    {Item::totalPower, "totalPower", Group::TotalPower, "Reading", Member::Reading, Take::Value,
     "Potência Total (Watts): ", " W"},
    {Item::totalPowerMax, "totalPowerMax", Group::TotalPower, "ReadingRangeMax", Member::RangeMax, Take::Value,
     "Potência Máxima (Watts): ", " W"},
    {Item::totalPowerMin, "totalPowerMin", Group::TotalPower, "ReadingRangeMin", Member::RangeMin, Take::Value,
     "Potência Mínima (Watts): ", " W"},
    {Item::totalPowerStatus, "totalPowerStatus", Group::TotalPower, "Status.Health", Member::Health, Take::FlagOk,
     "Estado da Potência Total Health: ", ""},
    {Item::totalPowerState, "totalPowerState", Group::TotalPower, "Status.State", Member::State, Take::FlagEnabled,
     "Estado da Potência Total State: ", ""},
    {Item::totalPowerThresholdLowerCritical, "totalPowerThresholdLowerCritical", Group::TotalPower,
     "Thresholds.LowerCritical.Reading", Member::LowerCritical, Take::Value, "Limite Inferior Crítico: ", " W"},
    {Item::totalPowerThresholdUpperCritical, "totalPowerThresholdUpperCritical", Group::TotalPower,
     "Thresholds.UpperCritical.Reading", Member::UpperCritical, Take::Value, "Limite Superior Crítico: ", " W"},

    {Item::peakPower, "peakPower", Group::PeakPower, "Reading", Member::Reading, Take::Value,
     "Potência de Pico (Watts): ", " W"},
    // A PowerControl entry's highest power is measured over this interval.
    {Item::peakPowerIntervalInMin, "", Group::PeakPower, "IntervalInMin", Member::IntervalInMin, Take::Value,
     "Intervalo da Potência de Pico: ", " min", Shown::WhenPublished},
    {Item::peakPowerThresholdLowerCaution, "peakPowerThresholdLowerCaution", Group::PeakPower,
     "Thresholds.LowerCaution.Reading", Member::LowerCaution, Take::Value, "Limite Inferior de Cautela: ", " W",
     Shown::Always, kAfterFlags},
    {Item::peakPowerThresholdUpperCaution, "peakPowerThresholdUpperCaution", Group::PeakPower,
     "Thresholds.UpperCaution.Reading", Member::UpperCaution, Take::Value, "Limite Superior de Cautela: ", " W",
     Shown::Always, kAfterFlags},
    {Item::peakPowerThresholdLowerCritical, "peakPowerThresholdLowerCritical", Group::PeakPower,
     "Thresholds.LowerCritical.Reading", Member::LowerCritical, Take::Value, "Limite Inferior Crítico: ", " W",
     Shown::Always, kAfterFlags},
    {Item::peakPowerThresholdUpperCritical, "peakPowerThresholdUpperCritical", Group::PeakPower,
     "Thresholds.UpperCritical.Reading", Member::UpperCritical, Take::Value, "Limite Superior Crítico: ", " W",
     Shown::Always, kAfterFlags},
    {Item::peakPowerStatus, "peakPowerStatus", Group::PeakPower, "Status.Health", Member::Health, Take::FlagOk,
     "Estado da Potência de Pico Health: ", "", Shown::Always, kFlags},
    {Item::peakPowerState, "peakPowerState", Group::PeakPower, "Status.State", Member::State, Take::FlagEnabled,
     "Estado da Potência de Pico State: ", "", Shown::Always, kFlags},

    // The system's words and inventory, as the BMC publishes them.
    {Item::systemHealth, "systemHealth", Group::System, "Status.Health", Member::Health, Take::Value,
     "Estado do Sistema Health: ", ""},
    {Item::systemHealthRollup, "systemHealthRollup", Group::System, "Status.HealthRollup", Member::HealthRollup,
     Take::Value, "Estado do Sistema Rollup: ", ""},
    {Item::systemState, "systemState", Group::System, "Status.State", Member::State, Take::Value,
     "Estado do Sistema State: ", ""},
    {Item::systemConditions, "systemConditions", Group::System, "Status.Conditions", Member::Conditions, Take::Value,
     "Condições do Sistema: ", ""},
    {Item::systemManufacturer, "systemManufacturer", Group::System, "Manufacturer", Member::Manufacturer, Take::Value,
     "Fabricante: ", ""},
    {Item::systemModel, "systemModel", Group::System, "Model", Member::Model, Take::Value, "Modelo: ", ""},
    {Item::systemSerialNumber, "systemSerialNumber", Group::System, "SerialNumber", Member::SerialNumber, Take::Value,
     "Número de Série: ", ""},
    {Item::systemPartNumber, "systemPartNumber", Group::System, "PartNumber", Member::PartNumber, Take::Value,
     "Número de Peça: ", ""},
    {Item::systemSku, "systemSku", Group::System, "SKU", Member::Sku, Take::Value, "SKU: ", ""},
    {Item::biosVersion, "biosVersion", Group::System, "BiosVersion", Member::BiosVersion, Take::Value,
     "Versão da BIOS: ", ""},
    {Item::bmcFirmwareVersion, "bmcFirmwareVersion", Group::System, "FirmwareVersion", Member::FirmwareVersion,
     Take::Value, "Versão do Firmware do BMC: ", ""},
};

inline constexpr std::size_t kItemCount = std::size(kFixedItems);

// The rows stand in the order of the enumeration, so an item's row is found
// by its number.
constexpr bool rows_in_item_order() {
    for (std::size_t i = 0; i < kItemCount; ++i)
        if (static_cast<std::size_t>(kFixedItems[i].item) != i) return false;
    return true;
}
static_assert(rows_in_item_order());

inline constexpr const FixedItem& fixed_item(Item item) { return kFixedItems[static_cast<std::size_t>(item)]; }

}  // namespace health
