#include "redfish/https.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <memory>
#include <new>

#include "support/failure.h"
#include "support/shown_text.h"
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

using support::Failure;
using support::FailureKind;

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct HeaderList {
    curl_slist* list = nullptr;
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(list); }
};

// One request on its way: what goes out, what came back.
struct Transfer {
    std::string method;
    std::string url;
    std::optional<std::string> body;  // libcurl reads it in place
    HeaderList headers;
    Response response;
    support::MemoryBudget* budget = nullptr;
    std::size_t charged = 0;  // the body's capacity, in flight in the budget
    bool body_too_large = false;
    bool over_budget = false;
    bool out_of_memory = false;  // an exception cannot cross libcurl's frames
    std::array<char, CURL_ERROR_SIZE> error{};
    std::unique_ptr<CURL, CurlDeleter> curl;
    CURLcode result = CURLE_OK;

    std::string where() const { return method + " " + support::shown_text(url); }
};

// Grows the body by doubling up to the cap, charging the budget for the old
// and the new block while both are held.
bool make_room(Transfer& transfer, std::size_t bytes) {
    std::string& body = transfer.response.body;
    if (body.size() + bytes <= body.capacity()) return true;
    const std::size_t after = std::min(kMaxBodyBytes, std::max(body.size() + bytes, 2 * body.capacity()));
    if (!support::fits(*transfer.budget, after)) return false;
    const std::size_t before = body.capacity();
    body.reserve(after);
    transfer.budget->in_flight += body.capacity() - before;
    transfer.charged += body.capacity() - before;
    return true;
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (transfer->response.body.size() + bytes > kMaxBodyBytes) {
        transfer->body_too_large = true;
        return 0;
    }
    try {
        if (!make_room(*transfer, bytes)) {
            transfer->over_budget = true;
            return 0;
        }
        transfer->response.body.append(data, bytes);
    } catch (const std::bad_alloc&) {
        transfer->out_of_memory = true;
        return 0;
    }
    return bytes;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    try {
        take_header_line(line, transfer->response.headers);
    } catch (const std::bad_alloc&) {
        transfer->out_of_memory = true;
        return 0;
    }
    return line.size();
}

void prepare(Client& client, Transfer& transfer, const std::vector<std::string>& header_lines) {
    transfer.budget = &client.memory;
    // libcurl would otherwise add "Expect: 100-continue" to large bodies.
    transfer.headers.list = curl_slist_append(transfer.headers.list, "Expect:");
    for (const auto& line : header_lines) {
        if (has_control_character(line))
            throw Failure(FailureKind::UnsafeHeader,
                          transfer.where() + ": a request header would carry a control character");
        transfer.headers.list = curl_slist_append(transfer.headers.list, line.c_str());
    }
    transfer.curl.reset(curl_easy_init());
    CURL* curl = transfer.curl.get();
    if (curl == nullptr) throw Failure(FailureKind::TransportError, "libcurl could not be initialised");
    curl_easy_setopt(curl, CURLOPT_URL, transfer.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    // The path was resolved and checked against /redfish/v1 by the caller;
    // libcurl's own resolving would only ever change what was checked.
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    // https_proxy and the like would route the login through a host of the
    // environment's choosing: the BMC is reached directly.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (!apply_certificate_check(curl, *client.certificate))
        throw Failure(FailureKind::TransportError,
                      transfer.where() + ": this libcurl cannot pin a certificate (it needs its OpenSSL back end)");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (client.tls_sessions != nullptr) curl_easy_setopt(curl, CURLOPT_SHARE, client.tls_sessions);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, transfer.error.data());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers.list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_PRIVATE, &transfer);
    if (transfer.body) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, transfer.body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(transfer.body->size()));
    }
    if (transfer.method != "GET" && transfer.method != "POST")
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, transfer.method.c_str());
    const long left = static_cast<long>(std::max<long long>(1, support::time_left(*client.guard).count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, left);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, left);
}

// The transfers that are on the multi handle; taken off it on every way out,
// so that their connections go back to its cache. Their bodies leave the
// budget's count here: a caller that keeps them counts them itself.
struct OnMulti {
    CURLM* multi;
    std::vector<Transfer>& transfers;
    ~OnMulti() {
        for (auto& transfer : transfers) {
            if (transfer.curl) curl_multi_remove_handle(multi, transfer.curl.get());
            transfer.budget->in_flight -= transfer.charged;
            transfer.charged = 0;
        }
    }
};

void run_all(Client& client, std::vector<Transfer>& transfers) {
    CURLM* multi = client.multi.get();
    OnMulti on_multi{multi, transfers};
    for (auto& transfer : transfers) curl_multi_add_handle(multi, transfer.curl.get());
    int running = 1;
    while (running > 0) {
        // Each libcurl wait ends within a second, sooner when a signal comes:
        // the bound and a stop asked for by a signal are seen here.
        support::time_left(*client.guard);
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            throw Failure(FailureKind::TransportError, "libcurl could not run the requests");
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            if (transfer != nullptr) transfer->result = message->data.result;
        }
        if (running > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
}

// The answer of a finished transfer, or the failure that ends the run.
Response outcome(const Client& client, Transfer& transfer) {
    if (transfer.result == CURLE_OPERATION_TIMEDOUT) support::raise_time_limit(*client.guard);
    if (transfer.body_too_large)
        throw Failure(FailureKind::ResponseTooLarge, transfer.where() + ": the answer's body is larger than " +
                                                         std::to_string(kMaxBodyBytes >> 20) + " MiB");
    if (transfer.over_budget)
        throw Failure(FailureKind::MemoryBudget, transfer.where() + ": " + support::over_budget(*transfer.budget));
    if (transfer.out_of_memory)
        throw Failure(FailureKind::OutOfMemory, transfer.where() + ": the system refused memory for the answer");
    if (transfer.result != CURLE_OK) {
        const std::string& refused = client.certificate->refused_fingerprint;
        if (!refused.empty())
            throw Failure(FailureKind::CertificateMismatch, transfer.where() +
                                                                ": the BMC's certificate has the SHA-256 fingerprint " +
                                                                refused + ", not the one pinned");
        const std::string reason =
            support::shown_text(transfer.error[0] ? transfer.error.data() : curl_easy_strerror(transfer.result));
        const std::string rejected = ca_refusal(transfer.curl.get(), transfer.result, *client.certificate);
        if (!rejected.empty())
            throw Failure(FailureKind::CertificateRejected,
                          transfer.where() + ": the BMC's certificate was refused: " + rejected + " (" + reason + ")");
        throw Failure(FailureKind::TransportError, transfer.where() + ": " + reason);
    }
    curl_easy_getinfo(transfer.curl.get(), CURLINFO_RESPONSE_CODE, &transfer.response.status);
    return std::move(transfer.response);
}

}  // namespace

void initialise() { curl_global_init(CURL_GLOBAL_DEFAULT); }

Client client(support::RunGuard& guard, const CertificateCheck& check) {
    Client made{std::make_unique<CertificateState>(CertificateState{check, {}}),
                std::unique_ptr<CURLM, MultiDeleter>(curl_multi_init()),
                &guard,
                {}};
    if (!made.multi) throw Failure(FailureKind::TransportError, "libcurl could not be initialised");
    CURLM* multi = made.multi.get();
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(kMaxInFlight));
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kMaxInFlight));
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(kMaxInFlight));
    return made;
}

Response request(Client& client, std::string_view method, const std::string& url,
                 const std::vector<std::string>& header_lines, const std::optional<std::string>& body) {
    std::vector<Transfer> transfers(1);
    transfers[0].method = std::string(method);
    transfers[0].url = url;
    transfers[0].body = body;
    prepare(client, transfers[0], header_lines);
    run_all(client, transfers);
    return outcome(client, transfers[0]);
}

std::vector<Response> get_all(Client& client, const std::vector<std::string>& urls,
                              const std::vector<std::string>& header_lines) {
    std::vector<Transfer> transfers(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        transfers[i].method = "GET";
        transfers[i].url = urls[i];
        prepare(client, transfers[i], header_lines);
    }
    run_all(client, transfers);
    std::vector<Response> responses;
    responses.reserve(transfers.size());
    for (auto& transfer : transfers) responses.push_back(outcome(client, transfer));
    return responses;
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
