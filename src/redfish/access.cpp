#include "redfish/access.h"

namespace redfish {

std::string bmc_url(const BmcAccess& access, std::string_view path) {
    return "https://" + access.url_base + std::string(path);
}

}  // namespace redfish
