// The real binary's ways to its BMC: the password from a file or a systemd
// credential, no proxy taken from the environment, and the certificate
// checked by a pin or a CA bundle before the password goes out.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bmc-sim/certificate.h"
#include "hostile_support.h"
#include "kit/raw_listener.h"
#include "kit/test_bmc.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::temp_directory_path() / ("bmc-access-test-" + std::to_string(getpid()));

std::string fingerprint(const bmc_sim::Certificate& certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate.cert.get(), EVP_sha256(), digest, &length);
    return redfish::https::certificate_fingerprint_text(std::string(reinterpret_cast<char*>(digest), length));
}

struct Way {
    std::string host, password_argument;
    std::string served;    // the folder of the certificate the BMC shows
    std::string password;  // the only one the BMC takes
    std::string failure;   // "Kind: why", empty when the run works
};

// Every run with https_proxy and the like naming a listener, where nothing
// may connect. A run that fails sends the BMC nothing, the password least of all.
TEST(BmcAccess, PasswordFromAFileOrACredentialAndTheCertificateCheckedWithoutAProxy) {
    fs::create_directories(kDir);
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"pw", hostile::kPassword + "\n"},
                                     {"credential-pw", hostile::kPassword + "\r\n"},
                                     {"empty", ""}})
        std::ofstream(kDir / name, std::ios::binary) << text;
    const auto authority = bmc_sim::make_certificate_authority(), other = bmc_sim::make_certificate_authority();
    const auto signed_one = bmc_sim::make_certificate_signed_by(authority),
               self = bmc_sim::make_self_signed_certificate();
    for (const auto& [certificate, folder] :
         {std::pair{&authority, "ca"}, {&other, "other-ca"}, {&signed_one, "signed"}, {&self, "self"}})
        bmc_sim::write_certificate(*certificate, kDir / folder);
    kit::RawListener proxy(kit::swallow_until_closed);
    kit::RunOptions options;
    options.env["CREDENTIALS_DIRECTORY"] = kDir.string();
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "ALL_PROXY"})
        options.env[name] = "http://127.0.0.1:" + std::to_string(proxy.port());
    const std::string missing = (kDir / "missing").string(), pw = hostile::kPassword;
    const Way ways[] = {
        {"bmc", pw, "self", pw, ""},  // the old way, unchanged
        {"bmc", "file:" + (kDir / "pw").string(), "self", pw, ""},
        {"bmc", "credential:credential-pw", "self", pw, ""},
        {"bmc", "pass:file:/etc/x", "self", "file:/etc/x", ""},
        {"bmc", "file:" + missing, "self", pw, "UnreadableFile: the password file " + missing + ": No such file"},
        {"bmc", "file:" + kDir.string(), "self", pw, "UnreadableFile: the password file " + kDir.string() + ": not a"},
        {"bmc", "file:" + (kDir / "empty").string(), "self", pw, "InvalidSetting: the password file "},
        {"bmc", "credential:missing", "self", pw, "UnreadableFile: the credential missing (" + missing + "): No such"},
        {"cert-sha256:" + fingerprint(self), pw, "self", pw, ""},
        {"cert-ca:" + (kDir / "ca" / "cert.pem").string(), pw, "signed", pw, ""},
        {"cert-sha256:" + fingerprint(signed_one), pw, "self", pw,
         "CertificateMismatch: the BMC's certificate has the SHA-256 fingerprint " + fingerprint(self) + ", not the"},
        {"cert-ca:" + (kDir / "other-ca" / "cert.pem").string(), pw, "signed", pw,
         "CertificateRejected: the BMC's certificate was refused"},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.host + " " + way.password_argument);
        auto bmc_options = kit::bmc_options();
        bmc_options.password = way.password;
        bmc_options.cert_dir = (kDir / way.served).string();
        auto bmc = kit::start_bmc(std::move(bmc_options));
        const auto run = kit::run_program(
            {"discoveryOpenBMC", way.host, bmc->url_base(), "monitor", way.password_argument, "debug"}, options);
        hostile::expect_no_password(run);
        if (way.failure.empty()) {
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            hostile::expect_logged_out(*bmc);
            continue;
        }
        const auto colon = way.failure.find(':');
        hostile::expect_error_line(run, way.failure.substr(0, colon), way.failure.substr(colon + 2));
        const std::string where = "POST https://" + bmc->url_base() + hostile::kSessions;  // for a certificate
        EXPECT_TRUE(way.host == "bmc" || run.err.find(where) != std::string::npos) << run.err;
        EXPECT_TRUE(bmc->requests().empty()) << hostile::request_log(*bmc);
    }
    EXPECT_EQ(proxy.connections(), 0);
    fs::remove_all(kDir);
}

}  // namespace
