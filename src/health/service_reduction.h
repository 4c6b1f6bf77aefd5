#pragma once
// The generic mode's reduction: what redfish::read_service read, item by item
// and row by row. What the BMC does not publish is "N/A", never a flag of 0,
// so that Zabbix takes nothing unpublished for a problem.
#include "health/snapshot.h"
#include "redfish/service_reading.h"

namespace health {

HealthSnapshot snapshot_of_service(const redfish::ServiceReading& service);

}  // namespace health
