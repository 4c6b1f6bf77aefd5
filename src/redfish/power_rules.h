#pragma once
// The generic mode's rules for the server's power: which chassis is the
// server's, where its total power, its power control and its peak power come
// from on any Redfish service. Pure: they look only at what the walk
// (service_walk.h) has read.
#include <cstddef>
#include <string>
#include <vector>

#include "redfish/service.h"
#include "redfish/service_reading.h"
#include "support/json.h"

namespace redfish {

// The first chassis the system links that is not a part of another
// (ChassisType Card, Cartridge, Component, IPBasedDrive, Module,
// StorageEnclosure or Zone), else the first such chassis of the collection,
// else the first (0).
std::size_t main_chassis(const support::Json* first_system, const std::vector<ChassisView>& chassis);

// Whether a chassis publishes a total power, by what was read of it: its
// EnvironmentMetrics.PowerWatts, its first PowerControl entry's
// PowerConsumedWatts or OpenBMC's total-power sensor, each a number.
bool publishes_total_power(const ChassisView& chassis, const DocumentStore& store);

// The documents the total and peak power of a chassis may come from beyond
// the chassis's own resources: the sensor its EnvironmentMetrics.PowerWatts
// names, and OpenBMC's total-power and peak-power sensors it lists.
std::vector<std::string> power_sensor_paths(const ChassisView& chassis);

struct PowerParts {
    PartReading power_control, total_power, peak_power;
};

// The total power of the main chassis, else of the first other chassis that
// publishes one; the power control and the peak power of that chassis.
PowerParts power_parts(const ServiceView& service, const DocumentStore& store);

}  // namespace redfish
