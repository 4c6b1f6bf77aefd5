#include "redfish/certificate.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "support/text.h"

namespace redfish::https {
namespace {

// OpenSSL's check of the chain, replaced by the pin: the BMC's own
// certificate (self-signed as a rule) is accepted by its fingerprint alone.
int verify_pin(X509_STORE_CTX* store, void* data) {
    auto* state = static_cast<CertificateState*>(data);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (leaf == nullptr || X509_digest(leaf, EVP_sha256(), digest, &length) != 1) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_UNSPECIFIED);
        return 0;
    }
    const std::string seen(reinterpret_cast<const char*>(digest), length);
    if (seen == state->check.sha256) return 1;
    state->refused_fingerprint = certificate_fingerprint_text(seen);
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

// libcurl calls this on every new connection, after its own set-up of the
// TLS context (which, with peer verification off, asks for none).
CURLcode pin_on_context(CURL* /*curl*/, void* context, void* data) {
    auto* ssl_context = static_cast<SSL_CTX*>(context);
    SSL_CTX_set_verify(ssl_context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(ssl_context, verify_pin, data);
    return CURLE_OK;
}

}  // namespace

bool apply_certificate_check(CURL* curl, CertificateState& state) {
    const bool by_ca = !state.check.ca_file.empty();
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, by_ca ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, by_ca ? 2L : 0L);
    if (by_ca) {
        // Only the bundle named, not the system's CAs besides.
        curl_easy_setopt(curl, CURLOPT_CAINFO, state.check.ca_file.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char*>(nullptr));
    }
    if (state.check.sha256.empty()) return true;
    return curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, pin_on_context) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &state) == CURLE_OK;
}

std::string ca_refusal(CURL* curl, CURLcode result, const CertificateState& state) {
    if (state.check.ca_file.empty()) return {};
    if (result == CURLE_SSL_CACERT_BADFILE)
        return "the CA bundle " + state.check.ca_file + " holds no certificate libcurl can use";
    long verified = X509_V_OK;
    curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verified);
    // A signature that fails to verify may end the handshake with OpenSSL's
    // own error instead of libcurl's verification failure.
    if (verified != X509_V_OK) return X509_verify_cert_error_string(verified);
    return result == CURLE_PEER_FAILED_VERIFICATION ? "it does not verify against the CA bundle" : "";
}

std::string certificate_fingerprint_text(const std::string& sha256) {
    std::string text;
    for (const char byte : sha256) {
        if (!text.empty()) text += ':';
        support::append_hex(text, static_cast<unsigned char>(byte), 2, support::HexCase::Upper);
    }
    return text;
}

}  // namespace redfish::https
