#pragma once
// What the Redfish client needs of a run: where the BMC answers, who logs
// in, and how its certificate is checked. Every Redfish address is "https://" + url_base + path, joined as they
// are.
#include <string>
#include <string_view>

#include "redfish/https.h"

namespace redfish {

struct BmcAccess {
    std::string url_base;
    std::string user;
    std::string pwd;
    https::CertificateCheck certificate;  // none by default
    CURLSH* tls_sessions = nullptr;       // TLS sessions kept from run to run (the fleet's); none for one run
};

// One run's way to its BMC: where it answers and who logs in, and the
// connections that its requests share under the run's guard.
struct Bmc {
    BmcAccess access;
    https::Client client;
};

std::string bmc_url(const BmcAccess& access, std::string_view path);

}  // namespace redfish
