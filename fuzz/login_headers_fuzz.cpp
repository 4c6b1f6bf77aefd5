// The header handling of the login answer: the lines as libcurl hands them
// over, the token and the Location taken from them, and the logout address
// made from the Location. Whatever the BMC sends, a token the probe would
// send back cannot split a header, and the logout goes to the BMC's own host
// and port, to a path under /redfish/v1 with no dot segment left that the
// BMC could resolve elsewhere (the whole input is tried as a path too).
#include <curl/curl.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "redfish/https.h"
#include "redfish/redfish_path.h"
#include "redfish/session.h"

namespace {

void fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

std::string url_part(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return "";
    std::string kept = text;
    curl_free(text);
    return kept;
}

void check_logout_address(const std::string& location) {
    redfish::BmcAccess bmc_access;
    bmc_access.url_base = "127.0.0.1:8443";
    const auto address = redfish::logout_url(bmc_access, location);
    if (!address) return;
    CURLU* url = curl_url();
    if (curl_url_set(url, CURLUPART_URL, address->c_str(), 0) == CURLUE_OK &&
        (url_part(url, CURLUPART_HOST) != "127.0.0.1" || url_part(url, CURLUPART_PORT) != "8443" ||
         !url_part(url, CURLUPART_USER).empty()))
        fail("the logout address leaves the BMC: " + *address);
    curl_url_cleanup(url);
}

// A path redfish_tree_path kept: in the tree, without a segment that is a
// dot (plainly or encoded), and unchanged when resolved once more.
void check_tree_path(const std::string& path) {
    const auto resolved = redfish::redfish_tree_path(path);
    if (!resolved) return;
    const std::string route = resolved->substr(0, resolved->find('?'));
    if (route != "/redfish/v1" && route.rfind("/redfish/v1/", 0) != 0) fail("a path outside the tree: " + *resolved);
    std::string lower = "/" + route + "/";
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* dot : {"/./", "/../", "/%2e/", "/.%2e/", "/%2e./", "/%2e%2e/"})
        if (lower.find(dot) != std::string::npos) fail("a dot segment is left: " + *resolved);
    if (redfish::redfish_tree_path(*resolved) != resolved) fail("resolving twice changes " + *resolved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t start = 0;
    while (start < input.size()) {
        const auto end = input.find('\n', start);
        const std::size_t stop = end == std::string::npos ? input.size() : end + 1;
        redfish::https::take_header_line(std::string_view(input).substr(start, stop - start), headers);
        start = stop;
    }
    redfish::https::Response response;
    response.headers = headers;
    const auto token = redfish::https::header(response, "X-Auth-Token");
    if (token && !redfish::https::has_control_character(*token)) {
        const std::string line = "X-Auth-Token: " + *token;
        if (line.find_first_of("\r\n") != std::string::npos) fail("a header line would split");
    }
    if (const auto location = redfish::https::header(response, "Location")) {
        check_logout_address(*location);
        check_tree_path(redfish::link_path(*location));
    }
    check_tree_path(input);
    return 0;
}
