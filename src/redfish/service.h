#pragma once
// A whole Redfish service as the generic mode reads it: what was fetched, by
// path, and the view of each chassis that the rules of service_rules.h walk.
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/json.h"

namespace redfish {

// The service root, where every Redfish path begins.
inline constexpr std::string_view kServiceRoot = "/redfish/v1";

// Fetches a batch of paths at once: for each, its document when answered
// 200, none otherwise.
using FetchBatch = std::function<std::vector<std::optional<support::Json>>(const std::vector<std::string>& paths)>;

// Every document the run has asked for, by path (query included), so that
// no path is asked twice; the members of an expanded collection are kept
// under their own paths too.
struct DocumentStore {
    FetchBatch fetch;
    std::map<std::string, std::optional<support::Json>> read;
};

// The document at path, fetched when not yet asked for; nullptr when refused.
const support::Json* document_at(DocumentStore& store, const std::string& path);

// The same for several paths, those not yet asked for fetched in one batch.
std::vector<const support::Json*> documents_at(DocumentStore& store, const std::vector<std::string>& paths);

// The document at path when it was read, without asking; nullptr otherwise.
const support::Json* known_document(const DocumentStore& store, const std::string& path);

// The path of an @odata.id value, kept only when it is a Redfish path on the
// BMC itself: a full URL is cut to its path (the token goes to no other
// host), a fragment is dropped, dot segments are resolved, and anything that
// then lies outside /redfish/v1 is refused (redfish_path.h).
std::optional<std::string> odata_path(const support::Json& link);

// One chassis and the resources it links that were read (nullptr where it
// links none or the read was refused).
struct ChassisView {
    std::string path;
    const support::Json* chassis = nullptr;
    const support::Json* power = nullptr;
    const support::Json* thermal = nullptr;
    const support::Json* environment = nullptr;
    std::vector<std::string> sensor_paths;  // its Sensors collection's members, in collection order
    std::vector<std::string> fan_paths;     // its ThermalSubsystem/Fans members
    // Its PowerSubsystem's PowerSupplies members, when it links that collection.
    std::optional<std::vector<std::string>> power_supply_paths;
};

// The components of every system, each list in the order of the systems and
// of their collections.
struct ComponentPaths {
    std::vector<std::string> memory, processors;
    std::vector<std::string> drives;          // named by the systems' Storage members
    std::vector<std::string> simple_storage;  // of the systems without Storage members
};

struct ServiceView {
    std::vector<std::string> storage_paths;  // the first system's Storage members, else SimpleStorage's
    std::vector<ChassisView> chassis;        // every member of Chassis that reads, in collection order
    std::size_t main = 0;                    // the main chassis, when there is one
    // The whole server, where the service was walked from its root.
    bool walked = false;
    std::string system_path;   // the first system
    std::string manager_path;  // the manager the first system names first, else the first manager
    ComponentPaths components;
};

}  // namespace redfish
