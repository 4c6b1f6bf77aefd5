#pragma once
// A scenario: the five Redfish resources one simulated machine serves, each
// as the exact body bytes of a file in one folder, with the status that
// http_status.json gives it (200 when it names none).
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bmc_sim {

struct ResourceFile {
    std::string_view path;
    std::string_view file;
};

inline constexpr ResourceFile kResourceFiles[] = {
    {"/redfish/v1/Systems/system/Storage/1", "storage.json"},
    {"/redfish/v1/Chassis/chassis/Power", "power.json"},
    {"/redfish/v1/Chassis/chassis/Thermal", "thermal.json"},
    {"/redfish/v1/Chassis/chassis/Sensors/total_power", "total_power.json"},
    {"/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER", "peak_power.json"},
};

struct Resource {
    std::string path;
    int status = 200;
    std::string body;
};

struct Scenario {
    std::vector<Resource> resources;  // in the order of kResourceFiles
    // Any other GET path, from the files of the folder's resources/ tree:
    // resources/A/B.json serves /redfish/v1/A/B, resources/A/index.json
    // serves /redfish/v1/A (and resources/index.json the service root).
    std::map<std::string, std::string> tree;
};

// Reads dir; a missing body file is served as 404 with bmcweb's
// ResourceNotFound document.
Scenario load_scenario(const std::filesystem::path& dir);

// The healthy machine kept with the tests, found from the running program's
// folder (build dirs sit in the source tree) or from the current folder.
std::filesystem::path default_scenario_dir();

}  // namespace bmc_sim
