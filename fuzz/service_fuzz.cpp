// The generic mode's reading of a whole Redfish service: the walk and its
// rules over whatever a BMC serves, then the reduction under those rules, the
// console report, the discovery documents and every per-row key. The input
// is a served tree: a path, a NUL byte, its body, a NUL byte, and so on (NUL
// is never valid inside JSON text); a path the input does not hold answers
// 404. Only invalid JSON may end this mode's run: anything else that escapes,
// and every sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "health/service_reduction.h"
#include "render.h"
#include "health/reduction.h"
#include "redfish/readers.h"
#include "redfish/service_walk.h"
#include "support/failure.h"

namespace {

std::map<std::string, std::string> served_tree(const std::string& input) {
    std::map<std::string, std::string> tree;
    std::size_t start = 0;
    while (start < input.size()) {
        const auto path_end = input.find('\0', start);
        if (path_end == std::string::npos) break;
        const auto body_end = std::min(input.find('\0', path_end + 1), input.size());
        tree.emplace(input.substr(start, path_end - start), input.substr(path_end + 1, body_end - path_end - 1));
        start = body_end + 1;
    }
    return tree;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto tree = served_tree(std::string(reinterpret_cast<const char*>(data), size));
    redfish::DocumentStore store;
    store.fetch = [&](const std::vector<std::string>& paths) {
        std::vector<std::optional<support::Json>> documents;
        for (const auto& path : paths) {
            const auto found = tree.find(path);
            if (found == tree.end()) documents.emplace_back();
            else documents.emplace_back(redfish::parse_document(found->second, "GET " + path));
        }
        return documents;
    };
    try {
        fuzz::render(health::snapshot_of_service(redfish::read_service(store)));
    } catch (const support::Failure& failure) {
        if (failure.kind != support::FailureKind::InvalidJson) __builtin_trap();
    }
    return 0;
}
