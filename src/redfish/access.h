#pragma once
// What the Redfish client needs of a run: where the BMC answers and who logs
// in. Every Redfish address is "https://" + url_base + path, joined as they
// are.
#include <string>
#include <string_view>

namespace redfish {

struct BmcAccess {
    std::string url_base;
    std::string user;
    std::string pwd;
};

std::string bmc_url(const BmcAccess& access, std::string_view path);

}  // namespace redfish
