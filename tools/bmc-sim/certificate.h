#pragma once
// The simulated BMC's TLS identity: a throw-away self-signed certificate for
// 127.0.0.1, made in-process, or one kept as PEM files in a folder.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <string>

namespace bmc_sim {

struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

struct Certificate {
    std::unique_ptr<X509, X509Deleter> cert;
    std::unique_ptr<EVP_PKEY, KeyDeleter> key;
};

// A P-256 key and a certificate for CN and IP 127.0.0.1, valid for a day.
Certificate make_self_signed_certificate();

// The same signed by issuer, a certificate authority as
// make_certificate_authority makes one.
Certificate make_certificate_signed_by(const Certificate& issuer);
Certificate make_certificate_authority();

// dir/cert.pem and dir/key.pem, the folder made when missing.
void write_certificate(const Certificate& certificate, const std::filesystem::path& dir);

// dir/cert.pem and dir/key.pem when both exist; otherwise a new certificate,
// written there so that a client can pin it (curl --cacert dir/cert.pem).
Certificate certificate_in(const std::filesystem::path& dir);

}  // namespace bmc_sim
