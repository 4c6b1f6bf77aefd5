#pragma once
// The generic mode's rules: which chassis counts, where each item of the
// five documents comes from on any Redfish service, and how the documents are
// assembled in the shapes the reduction reads. Pure: they look only at what
// the walk (service_walk.h) has read. What a BMC does not publish, or
// publishes as null or as a value of another kind, is left out of the
// documents, so that the reduction reports it "N/A".
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "redfish/readers.h"
#include "redfish/service.h"
#include "support/json.h"

namespace redfish {

// "?$expand=.($levels=1)" (or a form the root does announce) when the
// service root announces expansion of collections, else empty.
std::string expand_query(const support::Json* root);

// The path of the @odata.id of document's member name, when it is a path on
// the BMC (odata_path).
std::optional<std::string> link(const support::Json* document, const std::string& name);

// The member paths listed in a collection's Members, in order.
std::vector<std::string> member_paths(const support::Json* collection);

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

// The five documents, assembled by the rules from what was read.
Documents assembled_documents(const ServiceView& service, const DocumentStore& store);

}  // namespace redfish
