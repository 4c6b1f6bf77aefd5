#pragma once
// The simulated BMC for in-process tests: one started per test on an
// ephemeral port, serving a scenario of tests/testdata, and the run settings
// that point the Redfish client at it.
#include <filesystem>
#include <memory>
#include <string>

#include "bmc-sim/test_bmc.h"
#include "run/settings.h"

namespace kit {

std::filesystem::path testdata_dir(const std::string& scenario);

// Every byte of tests/testdata/<relative>; throws when it cannot be read.
std::string testdata_bytes(const std::string& relative);

// The options of a BMC serving tests/testdata/<scenario>.
bmc_sim::Options bmc_options(const std::string& scenario = "a_healthy");

// Started; stops when destroyed.
std::unique_ptr<bmc_sim::TestBmc> start_bmc(bmc_sim::Options options = bmc_options());

run::RunSettings settings_for(const bmc_sim::TestBmc& bmc, const std::string& user = "monitor",
                              const std::string& pwd = "0penBmc!");

}  // namespace kit
