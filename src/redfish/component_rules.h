#pragma once
// The generic mode's rules for the whole server: the first system's health,
// conditions and inventory with its manager's firmware, and the rows of its
// power supplies, memory, processors and drives. Pure: they look only at
// what the walk (service_walk.h) has read.
#include <vector>

#include "redfish/service.h"
#include "redfish/service_reading.h"

namespace redfish {

// Status.Health, HealthRollup and State, one line "<Severity>: <Message>"
// per entry of Status.Conditions, Manufacturer, Model, SerialNumber,
// PartNumber, SKU, BiosVersion, and the manager's FirmwareVersion.
PartReading system_part(const ServiceView& service, const DocumentStore& store);

struct ComponentLists {
    std::vector<SensorReading> power_supplies, memory, processors, drives;
};

// One row per component a document or array entry describes, named by its
// Name, else its Id or MemberId, names unique within each list, a component
// reached twice giving one row; an empty slot (State "Absent") gives none.
// Power supplies come from each chassis's PowerSubsystem where it links
// one, else from the PowerSupplies array of its Power.
ComponentLists component_lists(const ServiceView& service, const DocumentStore& store);

}  // namespace redfish
