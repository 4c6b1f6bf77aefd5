#include "redfish/address.h"

namespace redfish {

std::string bmc_url(const run::RunSettings& settings, std::string_view path) {
    return "https://" + settings.url_base + std::string(path);
}

}  // namespace redfish
