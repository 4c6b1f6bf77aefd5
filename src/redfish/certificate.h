#pragma once
// How a run checks its BMC's certificate. BMCs ship self-signed certificates,
// so by default it is not checked; an administrator may name a CA bundle (the
// chain and the name in the certificate are then verified) or pin the
// certificate by its SHA-256 fingerprint. Either way the check is part of the
// TLS handshake, so nothing (the password least of all) is sent to a BMC
// that fails it.
#include <curl/curl.h>

#include <string>

namespace redfish::https {

struct CertificateCheck {
    std::string ca_file;  // a PEM bundle; empty: none
    std::string sha256;   // the 32 bytes of the pinned certificate's fingerprint; empty: none
};

// A check and what it saw, where every connection's TLS set-up finds it
// (so at an address that stays put while the run's connections live).
struct CertificateState {
    CertificateCheck check;
    std::string refused_fingerprint;  // of a certificate the pin refused, as certificate_fingerprint_text writes it
};

// Sets up curl's TLS verification for state's check; false when this libcurl
// cannot (pinning needs its OpenSSL back end).
bool apply_certificate_check(CURL* curl, CertificateState& state);

// Why the CA bundle refused the BMC's certificate when a transfer ended with
// result for that reason (OpenSSL's verification result); empty otherwise.
std::string ca_refusal(CURL* curl, CURLcode result, const CertificateState& state);

// 32 bytes as openssl x509 -fingerprint writes them: "AB:CD:...".
std::string certificate_fingerprint_text(const std::string& sha256);

}  // namespace redfish::https
