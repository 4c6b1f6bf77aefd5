#include "redfish/https.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "support/failure.h"
#include "support/runtime_limiter.h"
#include "support/text.h"

namespace redfish::https {

void take_header_line(std::string_view line, std::vector<std::pair<std::string, std::string>>& headers) {
    if (line.rfind("HTTP/", 0) == 0) {
        headers.clear();  // a new answer (after 100 Continue) starts afresh
        return;
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos)
        headers.emplace_back(std::string(support::trimmed(line.substr(0, colon))),
                             std::string(support::trimmed(line.substr(colon + 1))));
}

bool has_control_character(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// One handle for the run: libcurl keeps its connection open between
// requests, so a run makes one TLS handshake.
CURL* shared_handle() {
    static std::unique_ptr<CURL, CurlDeleter> handle = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return std::unique_ptr<CURL, CurlDeleter>(curl_easy_init());
    }();
    if (!handle) throw support::Failure(support::FailureKind::TransportError, "libcurl could not be initialised");
    return handle.get();
}

struct Exchange {
    Response response;
    bool body_too_large = false;
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto* exchange = static_cast<Exchange*>(user);
    const std::size_t bytes = size * count;
    if (exchange->response.body.size() + bytes > kMaxBodyBytes) {
        exchange->body_too_large = true;
        return 0;
    }
    exchange->response.body.append(data, bytes);
    return bytes;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto* exchange = static_cast<Exchange*>(user);
    const std::string_view line(data, size * count);
    take_header_line(line, exchange->response.headers);
    return line.size();
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
};

void configure(CURL* curl, std::string_view method, const std::string& url, const HeaderList& headers,
               const std::optional<std::string>& body, Exchange& exchange, char* error_buffer) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    if (method != "GET" && method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
    if (support::bound_active()) {
        const long left = static_cast<long>(std::max<long long>(1, support::time_left().count()));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, left);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, left);
    }
}

}  // namespace

Response request(std::string_view method, const std::string& url, const std::vector<std::string>& header_lines,
                 const std::optional<std::string>& body) {
    const std::string where = std::string(method) + " " + url;
    HeaderList headers;
    // libcurl would otherwise add "Expect: 100-continue" to large bodies.
    headers.list = curl_slist_append(headers.list, "Expect:");
    for (const auto& line : header_lines) {
        if (has_control_character(line))
            throw support::Failure(support::FailureKind::UnsafeHeader,
                                   where + ": a request header would carry a control character");
        headers.list = curl_slist_append(headers.list, line.c_str());
    }
    CURL* curl = shared_handle();
    curl_easy_reset(curl);  // keeps the open connection, drops every option
    Exchange exchange;
    char error_buffer[CURL_ERROR_SIZE] = "";
    const std::string method_text(method);
    configure(curl, method_text, url, headers, body, exchange, error_buffer);
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OPERATION_TIMEDOUT && support::bound_active()) support::raise_timeout();
    if (exchange.body_too_large)
        throw support::Failure(
            support::FailureKind::ResponseTooLarge,
            where + ": the answer's body is larger than " + std::to_string(kMaxBodyBytes >> 20) + " MiB");
    if (code != CURLE_OK) {
        const std::string reason = error_buffer[0] ? error_buffer : curl_easy_strerror(code);
        throw support::Failure(support::FailureKind::TransportError, where + ": " + reason);
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &exchange.response.status);
    return exchange.response;
}

std::optional<std::string> header(const Response& response, std::string_view name) {
    for (const auto& [header_name, value] : response.headers) {
        if (header_name.size() == name.size() &&
            std::equal(header_name.begin(), header_name.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return value;
    }
    return std::nullopt;
}

}  // namespace redfish::https
