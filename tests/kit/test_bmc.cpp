#include "kit/test_bmc.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kit {

std::filesystem::path testdata_dir(const std::string& scenario) {
    return std::filesystem::path(BMC_PROBE_SOURCE_DIR) / "tests" / "testdata" / scenario;
}

std::string testdata_bytes(const std::string& relative) {
    const auto path = testdata_dir(relative);
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path.string());
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bmc_sim::Options bmc_options(const std::string& scenario) {
    bmc_sim::Options options;
    options.scenario = bmc_sim::load_scenario(testdata_dir(scenario));
    return options;
}

std::unique_ptr<bmc_sim::TestBmc> start_bmc(bmc_sim::Options options) {
    auto bmc = std::make_unique<bmc_sim::TestBmc>(std::move(options));
    bmc->start();
    return bmc;
}

redfish::BmcAccess access_for(const bmc_sim::TestBmc& bmc, const std::string& user, const std::string& pwd) {
    return {bmc.url_base(), user, pwd, {}};
}

std::unique_ptr<BmcLink> link_for(const redfish::BmcAccess& access, std::chrono::milliseconds limit) {
    auto link = std::make_unique<BmcLink>(BmcLink{support::run_guard(limit), {access, {}}});
    link->bmc.client = redfish::https::client(link->guard);
    return link;
}

}  // namespace kit
