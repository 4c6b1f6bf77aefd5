#pragma once
// The Zabbix delivery: every snapshot value as its own item, the three lists
// as discovery documents followed by their per-row items, in a fixed order.
#include <string>

#include "health/lists.h"
#include "health/snapshot.h"
#include "support/run_guard.h"
#include "zabbix/link.h"
#include "zabbix/server.h"

namespace health {

// {"data": [row, ...]} in the discovery-document form.
std::string discovery_document(const DiscoveryList& list, const std::vector<SensorRow>& rows);

// The item key for one row: prefix, the name as Zabbix writes it in a key
// parameter, "]". A name that is not text raises support::Failure.
std::string row_key(const std::string& prefix, const support::Json& name);

// Gathers every value on link in the delivery's order, sending nothing. A
// failure on the way (a row name that is not text) is raised with what came
// before it left on link.
void gather_for_zabbix(const HealthSnapshot& snapshot, zabbix::ZabbixLink& link, const std::string& zabbix_host);

// Sends everything and prints "OK"; raises support::Failure when Zabbix
// refused a fixed item or a discovery document, or could not be reached.
void deliver_to_zabbix(const HealthSnapshot& snapshot, const zabbix::ZabbixServer& zabbix_server,
                       const std::string& zabbix_host, support::RunGuard& guard);

}  // namespace health
