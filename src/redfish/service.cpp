#include "redfish/service.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "redfish/redfish_path.h"

namespace redfish {

std::optional<std::string> odata_path(const support::Json& link) {
    if (!link.is_string()) return std::nullopt;
    const std::string path = link_path(link.get<std::string>());
    return redfish_tree_path(path.substr(0, path.find('#')));
}

const support::Json* document_at(DocumentStore& store, const std::string& path) {
    return documents_at(store, {path}).front();
}

std::vector<const support::Json*> documents_at(DocumentStore& store, const std::vector<std::string>& paths) {
    std::vector<std::string> asked;
    std::unordered_set<std::string_view> seen;  // a path listed many times is asked once
    for (const auto& path : paths)
        if (!store.read.count(path) && seen.insert(path).second) asked.push_back(path);
    if (!asked.empty()) {
        auto documents = store.fetch(asked);
        for (std::size_t i = 0; i < asked.size(); ++i) store.read.emplace(asked[i], std::move(documents.at(i)));
    }
    std::vector<const support::Json*> found;
    found.reserve(paths.size());
    for (const auto& path : paths) found.push_back(known_document(store, path));
    return found;
}

const support::Json* known_document(const DocumentStore& store, const std::string& path) {
    const auto found = store.read.find(path);
    return found != store.read.end() && found->second ? &*found->second : nullptr;
}

}  // namespace redfish
