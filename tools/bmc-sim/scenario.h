#pragma once
// A scenario: what one simulated machine serves. Three kinds of folder:
//
// - five files (storage.json, power.json, ... with http_status.json): the
//   five resources at the old fixed paths, each the exact body bytes of its
//   file with the status http_status.json gives it (200 when it names none),
//   and optionally a resources/ tree: resources/A/B.json serves
//   /redfish/v1/A/B, resources/A/index.json serves /redfish/v1/A;
// - a capture made with DMTF's mockup creator: redfish/v1/<path>/index.json
//   is the body of GET /redfish/v1/<path>;
// - an index file (index.json in the folder, or any .json file given as the
//   scenario): a JSON object from URL (path, with its query where it has one)
//   to {"file", "status"}, the file named relative to the index.
//
// The service root of the scenario says where the login goes (Links.Sessions)
// and which forms of $expand the service performs (ExpandQuery).
#include <filesystem>
#include <map>
#include <optional>
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

struct Answer {
    int status = 200;
    std::string body;
};

// The forms of $expand a service root announces in
// ProtocolFeaturesSupported.ExpandQuery.
struct ExpandSupport {
    bool all = false;       // "*"
    bool no_links = false;  // "."
    bool links = false;     // "~"
    bool levels = false;    // "($levels=n)"
};

struct Scenario {
    std::vector<Resource> resources;  // a five-file folder's, in the order of kResourceFiles
    // Every other answer by URL: a path, or a path with its query
    // ("/redfish/v1/Chassis?$expand=.($levels=1)") where the scenario answers
    // that query itself.
    std::map<std::string, Answer> tree;
    std::string sessions_path = "/redfish/v1/SessionService/Sessions";
    ExpandSupport expand;
};

// Reads a scenario folder or index file; a missing body file of a five-file
// folder is served as 404 with bmcweb's ResourceNotFound document.
Scenario load_scenario(const std::filesystem::path& where);

// What the scenario answers for a GET of path with its query (percent
// escapes decoded): the URL with that query when the scenario holds it, a
// collection expanded one level when the query asks "$expand" in a form the
// root announces (501 when it does not), else the path, any other query
// ignored; "/A/" is "/A". None when the scenario holds nothing there.
std::optional<Answer> answer_for_get(const Scenario& scenario, const std::string& path, const std::string& query);

// The healthy machine kept with the tests, found from the running program's
// folder (build dirs sit in the source tree) or from the current folder.
std::filesystem::path default_scenario_dir();

}  // namespace bmc_sim
