#pragma once
// HTTPS requests to the BMC over connections kept for the run: one for
// requests made one at a time, at most kMaxInFlight for a batch made at once.
// The BMC's certificate is checked only as the administrator asks
// (certificate.h), no proxy of the environment is used, no cookie is kept,
// the path goes out as given (the callers resolve its dot segments), and each
// request may take only the time the run's guard has left.
#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "redfish/certificate.h"
#include "support/memory_budget.h"
#include "support/run_guard.h"

namespace redfish::https {

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// One run's connections to its BMC, and the guard its requests wait under.
// The multi handle keeps the open connections between requests (one for
// requests made one at a time, so a run of those makes one TLS handshake) and
// never opens more than kMaxInFlight. The run's memory budget is here as
// well: the bodies being received count in it, and a body that would not fit
// ends the run (MemoryBudget).
struct Client {
    // Declared before multi, so that the connections that point to it close first.
    std::unique_ptr<CertificateState> certificate;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    support::RunGuard* guard;
    support::MemoryBudget memory;
    CURLSH* tls_sessions = nullptr;  // where the handshakes of earlier runs are resumed from; none: fresh ones
};

// libcurl's set-up, once per process before any client is made.
void initialise();

// A client whose requests wait under guard and check the BMC's certificate
// as check says; raises a TransportError when libcurl cannot make one.
Client client(support::RunGuard& guard, const CertificateCheck& check = {});

struct Response {
    long status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string body;
};

// Bodies beyond this end the run instead of filling the memory.
inline constexpr std::size_t kMaxBodyBytes = 32u << 20;

// Requests on the wire at once, at most, on one BMC: a BMC serves few
// connections, and some of them to other clients.
inline constexpr int kMaxInFlight = 4;

// One request. header_lines are "Name: value"; body is sent when given.
// Transport failures raise support::Failure of kind "TransportError", naming
// the method, the URL and libcurl's reason; a certificate the check refuses,
// "CertificateMismatch" (the pin) or "CertificateRejected" (the CA bundle);
// running out of time raises support::Interrupted.
Response request(Client& client, std::string_view method, const std::string& url,
                 const std::vector<std::string>& header_lines, const std::optional<std::string>& body = std::nullopt);

// GETs of every URL at once, at most kMaxInFlight on the wire; the answers in
// the order of urls. The first failure, in that order, is raised as
// request() raises it.
std::vector<Response> get_all(Client& client, const std::vector<std::string>& urls,
                              const std::vector<std::string>& header_lines);

// The value of the first response header called name, whatever its letter case.
std::optional<std::string> header(const Response& response, std::string_view name);

// One header line as libcurl hands it over ("Name: value\r\n"), added to
// headers; a status line ("HTTP/...") starts a new answer and clears them.
void take_header_line(std::string_view line, std::vector<std::pair<std::string, std::string>>& headers);

// True when text holds a byte below 0x20 or DEL: such a value cannot go into
// a request header.
bool has_control_character(std::string_view text);

}  // namespace redfish::https
