#pragma once
// The generic mode's reading of a whole Redfish service. The five old fixed
// paths are asked first, in order; when all of them answer (bmcweb up to
// 2022) nothing else is asked. Otherwise the walk follows @odata.id links
// from the service root, asking each collection with $expand where the root
// announces it, and the documents of every chassis in parallel batches: the
// first system and its storage, every chassis with its Power and Thermal,
// its sensors and ThermalSubsystem/Fans where it lacks either, and what its
// total and peak power come from. The rules of service_rules.h then read the
// values from what was fetched.
#include "redfish/service.h"
#include "redfish/service_reading.h"

namespace redfish {

ServiceReading read_service(DocumentStore& store);

}  // namespace redfish
