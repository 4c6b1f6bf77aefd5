#include "redfish/readers.h"

#include <algorithm>
#include <stdexcept>

#include "redfish/access.h"
#include "redfish/https.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/json_parse.h"
#include "support/shown_text.h"

namespace redfish {
namespace {

// The bodies of one call, counted as in flight in the run's budget from
// their receipt until each is parsed and freed.
struct HeldBodies {
    support::MemoryBudget& budget;
    std::size_t bytes = 0;
    HeldBodies(support::MemoryBudget& run_budget, const std::vector<https::Response>& responses) : budget(run_budget) {
        for (const auto& response : responses) bytes += response.body.capacity();
        budget.in_flight += bytes;
    }
    HeldBodies(const HeldBodies&) = delete;
    HeldBodies& operator=(const HeldBodies&) = delete;
    ~HeldBodies() { budget.in_flight -= bytes; }

    void release(std::string& body) {
        const std::size_t freed = std::min(bytes, body.capacity());
        std::string().swap(body);
        bytes -= freed;
        budget.in_flight -= freed;
    }
};

Fetched fetched(Bmc& bmc, https::Response& response, const std::string& url, HeldBodies& held) {
    Fetched result{response.status, std::nullopt};
    if (response.status == 200)
        result.document = parse_document(response.body, "GET " + url, &bmc.client.memory, bmc.client.guard);
    held.release(response.body);
    return result;
}

std::vector<Fetched> fetched_all(Bmc& bmc, std::vector<https::Response> responses,
                                 const std::vector<std::string>& urls) {
    HeldBodies held(bmc.client.memory, responses);
    std::vector<Fetched> documents;
    documents.reserve(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) documents.push_back(fetched(bmc, responses[i], urls[i], held));
    return documents;
}

Fetched fetched_one(Bmc& bmc, https::Response response, const std::string& url) {
    std::vector<https::Response> responses;
    responses.push_back(std::move(response));
    return std::move(fetched_all(bmc, std::move(responses), {url}).front());
}

}  // namespace

support::Json parse_document(const std::string& body, const std::string& where, support::MemoryBudget* budget,
                             support::RunGuard* guard) {
    try {
        return support::parse_json(body, {kMaxNesting, budget, guard});
    } catch (const support::Failure& failure) {
        throw support::Failure(failure.kind, where + ": " + failure.what());
    } catch (const support::Json::parse_error& error) {
        throw support::Failure(support::FailureKind::InvalidJson,
                               where + ": the answer is not JSON: " + support::shown_text(error.what()));
    } catch (const support::Json::exception& error) {
        // A number too large for a double (1e400) is refused as out of range.
        throw support::Failure(support::FailureKind::InvalidJson,
                               where + ": the answer holds a number beyond the range of a double: " + error.what());
    }
}

Fetched fetch_document(Bmc& bmc, std::string_view path, const std::string& token) {
    const std::string url = bmc_url(bmc.access, path);
    return fetched_one(bmc, https::request(bmc.client, "GET", url, {"X-Auth-Token: " + token}), url);
}

std::vector<Fetched> fetch_documents(Bmc& bmc, const std::vector<std::string>& paths, const std::string& token) {
    std::vector<std::string> urls;
    urls.reserve(paths.size());
    for (const auto& path : paths) urls.push_back(bmc_url(bmc.access, path));
    return fetched_all(bmc, https::get_all(bmc.client, urls, {"X-Auth-Token: " + token}), urls);
}

Fetched fetch_public_document(Bmc& bmc, std::string_view path) {
    const std::string url = bmc_url(bmc.access, path);
    return fetched_one(bmc, https::request(bmc.client, "GET", url, {}), url);
}

Fetched read_resource(Bmc& bmc, const ResourceReader& reader, const std::string& token) {
    auto fetched = fetch_document(bmc, reader.path, token);
    if (!fetched.document) support::print_line(reader.failure_line);
    return fetched;
}

const ResourceReader& resource_reader(HeldDocument document) {
    for (const auto& reader : kResourceReaders)
        if (reader.held_as == document) return reader;
    throw std::logic_error("a document without a row in the readers' table");
}

std::optional<support::Json> get_storage(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, resource_reader(&Documents::getStorage), token).document;
}
std::optional<support::Json> get_chassisPower(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, resource_reader(&Documents::getChassiPower), token).document;
}
std::optional<support::Json> get_chassisThermal(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, resource_reader(&Documents::getChassiThermal), token).document;
}
std::optional<support::Json> get_chassisTotalPower(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, resource_reader(&Documents::getChassiTotalPower), token).document;
}
std::optional<support::Json> get_chassisPeakPower(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, resource_reader(&Documents::getChassiPeakPower), token).document;
}

}  // namespace redfish
