#include "redfish/service_links.h"

#include <string_view>

#include "redfish/json_members.h"
#include "redfish/service.h"

namespace redfish {

using support::Json;

std::string expand_query(const Json* root) {
    const Json* query = path_of(root, {"ProtocolFeaturesSupported", "ExpandQuery"});
    const auto says_yes = [&](std::string_view name) {
        const Json* flag = member_of(query, name);
        return flag != nullptr && flag->is_boolean() && flag->get<bool>();
    };
    // At one level "." and "*" expand a collection's members alike.
    std::string how = says_yes("NoLinks") ? "." : says_yes("ExpandAll") ? "*" : "";
    if (how.empty()) return "";
    if (says_yes("Levels")) how += "($levels=1)";
    return "?$expand=" + how;
}

std::optional<std::string> link(const Json* document, const std::string& name) {
    const Json* id = path_of(document, {name, "@odata.id"});
    if (id == nullptr) return std::nullopt;
    return odata_path(*id);
}

std::vector<std::string> member_paths(const Json* collection) {
    std::vector<std::string> paths;
    const Json* members = member_of(collection, "Members");
    if (members == nullptr || !members->is_array()) return paths;
    for (const auto& entry : *members)
        if (const Json* id = member_of(&entry, "@odata.id"))
            if (auto path = odata_path(*id)) paths.push_back(std::move(*path));
    return paths;
}

std::string data_source(const Json* excerpt) {
    const auto uri = member_of(excerpt, "DataSourceUri");
    if (uri == nullptr) return "";
    const auto path = odata_path(*uri);
    return path ? *path : "";
}

}  // namespace redfish
