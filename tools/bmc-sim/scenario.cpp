#include "bmc-sim/scenario.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "bmc-sim/bodies.h"

namespace bmc_sim {
namespace {

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("bmc-sim: cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

nlohmann::json statuses_in(const std::filesystem::path& dir) {
    const auto path = dir / "http_status.json";
    if (!std::filesystem::exists(path)) return nlohmann::json::object();
    try {
        return nlohmann::json::parse(file_bytes(path));
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error("bmc-sim: " + path.string() + ": " + error.what());
    }
}

std::filesystem::path program_dir() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::filesystem::path(std::string(buffer, static_cast<std::size_t>(n))).parent_path();
}

std::map<std::string, std::string> tree_in(const std::filesystem::path& dir) {
    std::map<std::string, std::string> tree;
    const auto root = dir / "resources";
    if (!std::filesystem::is_directory(root)) return tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".json") continue;
        auto relative = std::filesystem::relative(entry.path(), root);
        relative = relative.filename() == "index.json" ? relative.parent_path() : relative.replace_extension();
        const std::string rest = relative.generic_string();
        tree["/redfish/v1" + (rest.empty() ? "" : "/" + rest)] = file_bytes(entry.path());
    }
    return tree;
}

}  // namespace

Scenario load_scenario(const std::filesystem::path& dir) {
    if (!std::filesystem::is_directory(dir)) throw std::runtime_error("bmc-sim: no scenario folder " + dir.string());
    const auto statuses = statuses_in(dir);
    Scenario scenario;
    scenario.tree = tree_in(dir);
    for (const auto& [path, file] : kResourceFiles) {
        Resource resource{std::string(path), 200, {}};
        const auto body_path = dir / file;
        if (std::filesystem::exists(body_path)) {
            resource.body = file_bytes(body_path);
            resource.status = statuses.value(std::string(file), 200);
        } else if (scenario.tree.count(resource.path)) {
            continue;
        } else {
            const std::string name = resource.path.substr(resource.path.rfind('/') + 1);
            resource.status = 404;
            resource.body = bodies::resource_not_found("Resource", name);
        }
        scenario.resources.push_back(std::move(resource));
    }
    return scenario;
}

std::filesystem::path default_scenario_dir() {
    const std::filesystem::path relative = "tests/testdata/a_healthy";
    for (const auto& base : {program_dir().parent_path(), std::filesystem::current_path()})
        if (std::filesystem::is_directory(base / relative)) return base / relative;
    throw std::runtime_error("bmc-sim: cannot find " + relative.string() + "; give --scenario DIR");
}

}  // namespace bmc_sim
