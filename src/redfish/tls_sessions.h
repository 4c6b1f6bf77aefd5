#pragma once
// The TLS sessions of one BMC, kept from run to run, so that a process that
// polls it again and again (the fleet) resumes its session where the BMC
// allows instead of a full handshake each run. Only the sessions are shared:
// every run still opens its own connections and closes them at its end.
#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace redfish::https {

struct TlsSessions {
    std::mutex lock;  // libcurl's lock callbacks take it: runs on other threads use the same sessions
    CURLSH* share = nullptr;
    TlsSessions() = default;
    TlsSessions(const TlsSessions&) = delete;
    TlsSessions& operator=(const TlsSessions&) = delete;
    ~TlsSessions() { curl_share_cleanup(share); }
};

// An empty cache; a share libcurl could not make stays null, and runs then
// make full handshakes.
std::unique_ptr<TlsSessions> tls_sessions();

}  // namespace redfish::https
