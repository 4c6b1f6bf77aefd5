#include "kit/served_store.h"

#include "redfish/readers.h"

namespace kit {

redfish::DocumentStore store_serving(const bmc_sim::Scenario& scenario, std::vector<std::string>* asked) {
    redfish::DocumentStore store;
    store.fetch = [&scenario, asked](const std::vector<std::string>& paths) {
        std::vector<std::optional<support::Json>> documents;
        for (const auto& target : paths) {
            if (asked != nullptr) asked->push_back(target);
            const auto mark = target.find('?');
            const auto answer = bmc_sim::answer_for_get(scenario, target.substr(0, mark),
                                                        mark == std::string::npos ? "" : target.substr(mark + 1));
            if (answer && answer->status == 200) documents.emplace_back(redfish::parse_document(answer->body, target));
            else documents.emplace_back();
        }
        return documents;
    };
    return store;
}

}  // namespace kit
