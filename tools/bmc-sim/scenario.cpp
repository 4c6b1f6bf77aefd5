#include "bmc-sim/scenario.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <initializer_list>
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

nlohmann::json parsed(const std::filesystem::path& path) {
    try {
        return nlohmann::json::parse(file_bytes(path));
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error("bmc-sim: " + path.string() + ": " + error.what());
    }
}

nlohmann::json statuses_in(const std::filesystem::path& dir) {
    const auto path = dir / "http_status.json";
    if (!std::filesystem::exists(path)) return nlohmann::json::object();
    return parsed(path);
}

std::filesystem::path program_dir() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::filesystem::path(std::string(buffer, static_cast<std::size_t>(n))).parent_path();
}

// Under root, every index.json serves its folder and, unless index_only, every
// other .json file its own path without the extension.
std::map<std::string, Answer> files_under(const std::filesystem::path& root, bool index_only) {
    std::map<std::string, Answer> tree;
    if (!std::filesystem::is_directory(root)) return tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".json") continue;
        const bool index = entry.path().filename() == "index.json";
        if (index_only && !index) continue;
        auto relative = std::filesystem::relative(entry.path(), root);
        relative = index ? relative.parent_path() : relative.replace_extension();
        const std::string rest = relative.generic_string();
        tree["/redfish/v1" + (rest.empty() ? "" : "/" + rest)] = {200, file_bytes(entry.path())};
    }
    return tree;
}

bool is_index_entry(const nlohmann::json& entry) {
    return entry.is_object() && entry.contains("file") && entry["file"].is_string() && entry.contains("status") &&
           entry["status"].is_number_integer();
}

// URL -> {"file", "status"}, the files named relative to the index.
std::map<std::string, Answer> indexed(const std::filesystem::path& index_path) {
    const auto index = parsed(index_path);
    if (!index.is_object()) throw std::runtime_error("bmc-sim: " + index_path.string() + ": not a JSON object");
    std::map<std::string, Answer> tree;
    for (const auto& [url, entry] : index.items()) {
        if (!is_index_entry(entry))
            throw std::runtime_error("bmc-sim: " + index_path.string() + ": " + url + " needs a file and a status");
        tree[url] = {entry["status"].get<int>(), file_bytes(index_path.parent_path() / entry["file"].get<std::string>())};
    }
    return tree;
}

bool is_index(const std::filesystem::path& path) {
    if (!std::filesystem::is_regular_file(path)) return false;
    const auto index = nlohmann::json::parse(file_bytes(path), nullptr, false);
    return index.is_object() && !index.empty() && std::all_of(index.begin(), index.end(), is_index_entry);
}

const nlohmann::json* member_at(const nlohmann::json& value, std::initializer_list<const char*> names) {
    const nlohmann::json* at = &value;
    for (const char* name : names) {
        if (!at->is_object() || !at->contains(name)) return nullptr;
        at = &(*at)[name];
    }
    return at;
}

bool announces(const nlohmann::json& root, const char* form) {
    const auto* flag = member_at(root, {"ProtocolFeaturesSupported", "ExpandQuery", form});
    return flag != nullptr && flag->is_boolean() && flag->get<bool>();
}

// Where the login goes and which $expand forms are served, as the service
// root says.
void read_service_root(Scenario& scenario) {
    const auto root_answer = scenario.tree.find("/redfish/v1");
    if (root_answer == scenario.tree.end() || root_answer->second.status != 200) return;
    const auto root = nlohmann::json::parse(root_answer->second.body, nullptr, false);
    const auto* sessions = member_at(root, {"Links", "Sessions", "@odata.id"});
    if (sessions != nullptr && sessions->is_string() && sessions->get<std::string>().rfind('/', 0) == 0)
        scenario.sessions_path = sessions->get<std::string>();
    scenario.expand = {announces(root, "ExpandAll"), announces(root, "NoLinks"), announces(root, "Links"),
                       announces(root, "Levels")};
}

void add_five_files(Scenario& scenario, const std::filesystem::path& dir) {
    const auto statuses = statuses_in(dir);
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
}

// The answer the scenario holds for a path ("/A/" as "/A"), if any.
std::optional<Answer> held(const Scenario& scenario, std::string path) {
    auto found = scenario.tree.find(path);
    if (found == scenario.tree.end() && path.size() > 1 && path.back() == '/') {
        path.pop_back();
        found = scenario.tree.find(path);
    }
    if (found == scenario.tree.end()) return std::nullopt;
    return found->second;
}

// The form of an $expand value ("*", "." or "~", each optionally followed by
// "($levels=n)") when the service root announces it; none otherwise.
std::optional<char> expand_form(const std::string& value, const ExpandSupport& support) {
    if (value.empty()) return std::nullopt;
    const char form = value[0];
    const std::string levels = value.substr(1);
    const std::string prefix = "($levels=";
    const bool with_levels = levels.size() > prefix.size() + 1 && levels.rfind(prefix, 0) == 0 &&
                             levels.back() == ')' &&
                             std::all_of(levels.begin() + static_cast<long>(prefix.size()), levels.end() - 1,
                                         [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!levels.empty() && !(with_levels && support.levels)) return std::nullopt;
    const bool announced = (form == '*' && support.all) || (form == '.' && support.no_links) ||
                           (form == '~' && support.links);
    return announced ? std::optional(form) : std::nullopt;
}

// $expand, one level: "*" and "." replace each member of a collection that
// the scenario holds by its document; "~" expands only Links, which a
// collection's members are not.
std::string expanded(const Scenario& scenario, const std::string& body, char form) {
    auto document = nlohmann::json::parse(body, nullptr, false);
    if (form == '~' || !document.is_object() || !document.contains("Members") || !document["Members"].is_array())
        return body;
    for (auto& member : document["Members"]) {
        if (!member.is_object() || !member.contains("@odata.id") || !member["@odata.id"].is_string()) continue;
        const auto found = held(scenario, member["@odata.id"].get<std::string>());
        if (found && found->status == 200) member = nlohmann::json::parse(found->body, nullptr, false);
    }
    return document.dump(2, ' ', true, nlohmann::json::error_handler_t::replace);
}

std::optional<Answer> expand_answer(const Scenario& scenario, const std::string& path, const std::string& value) {
    const auto form = expand_form(value, scenario.expand);
    if (!form) return Answer{501, bodies::query_not_supported()};
    auto base = held(scenario, path);
    if (base && base->status == 200) base->body = expanded(scenario, base->body, *form);
    return base;
}

// The value of $expand in a decoded query, split at the first "=" only
// (httplib's own parameters split "$expand=.($levels=1)" at every "=").
std::optional<std::string> expand_value(const std::string& query) {
    const std::string name = "$expand=";
    for (std::size_t start = 0; start <= query.size();) {
        const auto end = std::min(query.find('&', start), query.size());
        const std::string parameter = query.substr(start, end - start);
        if (parameter.rfind(name, 0) == 0) return parameter.substr(name.size());
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Answer> answer_for_get(const Scenario& scenario, const std::string& path, const std::string& query) {
    if (!query.empty()) {
        const auto exact = scenario.tree.find(path + "?" + query);
        if (exact != scenario.tree.end()) return exact->second;
        if (const auto value = expand_value(query)) return expand_answer(scenario, path, *value);
    }
    return held(scenario, path);
}

Scenario load_scenario(const std::filesystem::path& where) {
    Scenario scenario;
    if (std::filesystem::is_regular_file(where)) {
        scenario.tree = indexed(where);
    } else if (!std::filesystem::is_directory(where)) {
        throw std::runtime_error("bmc-sim: no scenario folder or index " + where.string());
    } else if (std::filesystem::is_regular_file(where / "redfish" / "v1" / "index.json")) {
        scenario.tree = files_under(where / "redfish" / "v1", true);
    } else if (is_index(where / "index.json")) {
        scenario.tree = indexed(where / "index.json");
    } else {
        scenario.tree = files_under(where / "resources", false);
        add_five_files(scenario, where);
    }
    read_service_root(scenario);
    return scenario;
}

std::filesystem::path default_scenario_dir() {
    const std::filesystem::path relative = "tests/testdata/a_healthy";
    for (const auto& base : {program_dir().parent_path(), std::filesystem::current_path()})
        if (std::filesystem::is_directory(base / relative)) return base / relative;
    throw std::runtime_error("bmc-sim: cannot find " + relative.string() + "; give --scenario DIR");
}

}  // namespace bmc_sim
