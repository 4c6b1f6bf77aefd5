#include "redfish/readers.h"

#include "redfish/access.h"
#include "redfish/https.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/shown_text.h"

namespace redfish {
namespace {

// Deepest nesting of arrays and objects, counted outside strings.
int nesting_depth(const std::string& body) {
    int depth = 0, deepest = 0;
    bool in_string = false, escaped = false;
    for (char c : body) {
        if (in_string) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

Fetched fetched(const https::Response& response, const std::string& url) {
    if (response.status != 200) return {response.status, std::nullopt};
    return {response.status, parse_document(response.body, "GET " + url)};
}

}  // namespace

support::Json parse_document(const std::string& body, const std::string& where) {
    if (nesting_depth(body) > kMaxNesting)
        throw support::Failure(support::FailureKind::InvalidJson,
                               where + ": the answer nests deeper than " + std::to_string(kMaxNesting) + " levels");
    try {
        return support::Json::parse(body);
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
    return fetched(https::request(bmc.client, "GET", url, {"X-Auth-Token: " + token}), url);
}

std::vector<Fetched> fetch_documents(Bmc& bmc, const std::vector<std::string>& paths,
                                     const std::string& token) {
    std::vector<std::string> urls;
    urls.reserve(paths.size());
    for (const auto& path : paths) urls.push_back(bmc_url(bmc.access, path));
    const auto responses = https::get_all(bmc.client, urls, {"X-Auth-Token: " + token});
    std::vector<Fetched> documents;
    documents.reserve(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) documents.push_back(fetched(responses[i], urls[i]));
    return documents;
}

Fetched fetch_public_document(Bmc& bmc, std::string_view path) {
    const std::string url = bmc_url(bmc.access, path);
    return fetched(https::request(bmc.client, "GET", url, {}), url);
}

std::optional<support::Json> read_resource(Bmc& bmc, const ResourceReader& reader,
                                           const std::string& token) {
    auto fetched = fetch_document(bmc, reader.path, token);
    if (!fetched.document) support::print_line(reader.failure_line);
    return std::move(fetched.document);
}

std::optional<support::Json> get_storage(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, kResourceReaders[0], token);
}
std::optional<support::Json> get_chassisPower(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, kResourceReaders[1], token);
}
std::optional<support::Json> get_chassisThermal(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, kResourceReaders[2], token);
}
std::optional<support::Json> get_chassisTotalPower(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, kResourceReaders[3], token);
}
std::optional<support::Json> get_chassisPeakPower(Bmc& bmc, const std::string& token) {
    return read_resource(bmc, kResourceReaders[4], token);
}

}  // namespace redfish
