#pragma once
// The generic mode's reading of a whole service, by its rules: the storage,
// the power (power_rules.h), the sensor rows (sensor_rules.h) and the whole
// server (component_rules.h). Pure: they look only at what the walk
// (service_walk.h) has read.
#include "redfish/service.h"
#include "redfish/service_reading.h"

namespace redfish {

ServiceReading service_reading(const ServiceView& service, const DocumentStore& store);

}  // namespace redfish
