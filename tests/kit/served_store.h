#pragma once
// The generic mode's document store asking a scenario in-process, with the
// answers bmc-sim would give over HTTPS: for the rules' tests, which need no
// network.
#include <string>
#include <vector>

#include "bmc-sim/scenario.h"
#include "redfish/service.h"

namespace kit {

// The scenario must outlive the store; every path asked is added to asked
// when it is given.
redfish::DocumentStore store_serving(const bmc_sim::Scenario& scenario, std::vector<std::string>* asked = nullptr);

}  // namespace kit
