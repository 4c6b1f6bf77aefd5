#pragma once
// The simulated BMC for in-process tests: one started per test on an
// ephemeral port, serving a scenario of tests/testdata, and the access record
// that points the Redfish client at it.
#include <filesystem>
#include <memory>
#include <string>

#include "bmc-sim/test_bmc.h"
#include "redfish/access.h"

namespace kit {

std::filesystem::path testdata_dir(const std::string& scenario);

// Every byte of tests/testdata/<relative>; throws when it cannot be read.
std::string testdata_bytes(const std::string& relative);

// The options of a BMC serving tests/testdata/<scenario>.
bmc_sim::Options bmc_options(const std::string& scenario = "a_healthy");

// Started; stops when destroyed.
std::unique_ptr<bmc_sim::TestBmc> start_bmc(bmc_sim::Options options = bmc_options());

redfish::BmcAccess access_for(const bmc_sim::TestBmc& bmc, const std::string& user = "monitor",
                              const std::string& pwd = "0penBmc!");

// The Redfish layer's way to a BMC for direct calls: its connections, kept
// while it lives, and a guard of limit for its requests.
struct BmcLink {
    support::RunGuard guard;
    redfish::Bmc bmc;
};
std::unique_ptr<BmcLink> link_for(const redfish::BmcAccess& access,
                                  std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace kit
