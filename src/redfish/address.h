#pragma once
// Every Redfish address is "https://" + url_base + path, joined as they are.
#include <string>
#include <string_view>

#include "run/settings.h"

namespace redfish {

std::string bmc_url(const run::RunSettings& settings, std::string_view path);

}  // namespace redfish
