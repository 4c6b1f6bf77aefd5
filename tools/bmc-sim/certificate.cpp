#include "bmc-sim/certificate.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <random>
#include <stdexcept>

namespace bmc_sim {
namespace {

void require(bool ok, const char* step) {
    if (!ok) throw std::runtime_error(std::string("bmc-sim: certificate: ") + step + " failed");
}

void add_extension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    require(extension != nullptr, "extension");
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_file(const std::filesystem::path& path, const char* mode) {
    File file(std::fopen(path.c_str(), mode));
    if (!file) throw std::runtime_error("bmc-sim: cannot open " + path.string());
    return file;
}

// A certificate for common_name, signed by issuer or by itself when none.
Certificate make_certificate(const char* common_name, const Certificate* issuer, bool authority) {
    Certificate made;
    made.key.reset(EVP_EC_gen("P-256"));
    require(made.key != nullptr, "key generation");
    made.cert.reset(X509_new());
    X509* cert = made.cert.get();
    require(cert != nullptr, "X509_new");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::random_device{}() & 0x7fffffff));
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, made.key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("bmc-sim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name), -1, -1,
                               0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer->cert.get()) : name);
    if (!authority) add_extension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    add_extension(cert, NID_basic_constraints, authority || !issuer ? "critical,CA:TRUE" : "critical,CA:FALSE");
    require(X509_sign(cert, issuer ? issuer->key.get() : made.key.get(), EVP_sha256()) > 0, "signing");
    return made;
}

}  // namespace

Certificate make_self_signed_certificate() { return make_certificate("127.0.0.1", nullptr, false); }

Certificate make_certificate_signed_by(const Certificate& issuer) {
    return make_certificate("127.0.0.1", &issuer, false);
}

Certificate make_certificate_authority() { return make_certificate("bmc-sim test CA", nullptr, true); }

void write_certificate(const Certificate& certificate, const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const auto key_path = dir / "key.pem";
    require(PEM_write_X509(open_file(dir / "cert.pem", "w").get(), certificate.cert.get()) == 1, "writing cert.pem");
    require(PEM_write_PrivateKey(open_file(key_path, "w").get(), certificate.key.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) == 1,
            "writing key.pem");
    std::filesystem::permissions(key_path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

Certificate certificate_in(const std::filesystem::path& dir) {
    const auto cert_path = dir / "cert.pem", key_path = dir / "key.pem";
    if (std::filesystem::exists(cert_path) && std::filesystem::exists(key_path)) {
        Certificate loaded;
        loaded.cert.reset(PEM_read_X509(open_file(cert_path, "r").get(), nullptr, nullptr, nullptr));
        loaded.key.reset(PEM_read_PrivateKey(open_file(key_path, "r").get(), nullptr, nullptr, nullptr));
        require(loaded.cert && loaded.key, "reading the PEM files");
        return loaded;
    }
    Certificate made = make_self_signed_certificate();
    write_certificate(made, dir);
    return made;
}

}  // namespace bmc_sim
