#pragma once
// The five documents on firmware whose paths moved: each reader's fixed path
// first, and only when that is refused its current equivalent, found from the
// service root by following @odata.id links (the first system; the chassis
// that holds the sensors). An absent Power or Thermal resource is assembled,
// in the same shape, from the chassis Sensors collection and
// ThermalSubsystem/Fans.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "redfish/access.h"
#include "redfish/readers.h"
#include "redfish/service.h"
#include "support/json.h"

namespace redfish {

// A collection member: its path and its whole document.
struct Member {
    std::string path;
    support::Json document;
};

// What one run has fetched while looking, so that no path is asked twice.
struct Discovery {
    const BmcAccess* access = nullptr;
    std::string token;
    std::map<std::string, std::optional<support::Json>> fetched;                 // path -> document, none unless 200
    std::map<std::string, std::optional<std::vector<Member>>> expanded_members;  // collection path -> members
};

Discovery start_discovery(const BmcAccess& access, const std::string& token);

// The reader's document, found as above; prints the reader's failure line and
// gives no value when no way finds it.
std::optional<support::Json> find_document(Discovery& discovery, const ResourceReader& reader);

// The Power and Thermal documents assembled from sensor and fan resources,
// each array sorted by Name in byte order, as bmcweb sorts them.
support::Json assembled_power(const std::vector<Member>& sensors);
support::Json assembled_thermal(const std::vector<Member>& sensors, const std::vector<Member>& fans);

}  // namespace redfish
