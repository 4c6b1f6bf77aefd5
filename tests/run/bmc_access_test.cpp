// The real binary's ways to its BMC: the password from a file or a systemd
// credential, the certificate checked by a pin or a CA bundle before the
// password goes out, and no proxy taken from the environment.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bmc-sim/certificate.h"
#include "hostile_support.h"
#include "kit/raw_listener.h"
#include "kit/test_bmc.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::temp_directory_path() / ("bmc-access-test-" + std::to_string(getpid()));

fs::path written(const std::string& name, const std::string& text) {
    fs::create_directories(kDir);
    std::ofstream(kDir / name, std::ios::binary) << text;
    return kDir / name;
}

kit::RunResult run_debug(const bmc_sim::TestBmc& bmc, const std::string& host, const std::string& password,
                         std::map<std::string, std::string> env = {}) {
    kit::RunOptions options;
    options.env = std::move(env);
    return kit::run_program({"discoveryOpenBMC", host, bmc.url_base(), "monitor", password, "debug"}, options);
}

std::unique_ptr<bmc_sim::TestBmc> bmc_taking(const std::string& password, const fs::path& cert_dir = {}) {
    auto options = kit::bmc_options();
    options.password = password;
    if (!cert_dir.empty()) options.cert_dir = cert_dir.string();
    return kit::start_bmc(std::move(options));
}

TEST(BmcAccess, PasswordFromTheArgumentAFileOrACredential) {
    written("pw", hostile::kPassword + "\n");
    written("credential-pw", hostile::kPassword + "\r\n");
    const std::map<std::string, std::string> credentials = {{"CREDENTIALS_DIRECTORY", kDir.string()}};
    const std::vector<std::pair<std::string, std::string>> cases = {
        {hostile::kPassword, hostile::kPassword},  // the old way, unchanged
        {"file:" + (kDir / "pw").string(), hostile::kPassword},
        {"credential:credential-pw", hostile::kPassword},
        {"pass:file:/etc/x", "file:/etc/x"},
    };
    for (const auto& [argument, password] : cases) {
        SCOPED_TRACE(argument);
        auto bmc = bmc_taking(password);
        const auto run = run_debug(*bmc, "bmc", argument, credentials);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("Sessão encerrada com sucesso."), std::string::npos) << run.out;
        hostile::expect_no_password(run);
    }
}

TEST(BmcAccess, UnreadablePasswordEndsTheRunBeforeAnythingIsSent) {
    written("empty", "");
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"file:" + (kDir / "missing").string(), "UnreadableFile", (kDir / "missing").string() + ": No such file"},
        {"file:" + kDir.string(), "UnreadableFile", "not a regular file"},
        {"file:" + (kDir / "empty").string(), "InvalidSetting", "holds no password"},
        {"credential:pw", "MissingSetting", "$CREDENTIALS_DIRECTORY is not set"},
    };
    for (const auto& [argument, kind, why] : cases) {
        SCOPED_TRACE(argument);
        auto bmc = bmc_taking(hostile::kPassword);
        hostile::expect_error_line(run_debug(*bmc, "bmc", argument), kind, why);
        EXPECT_EQ(bmc->tls_connections(), 0);
    }
}

std::string fingerprint(const bmc_sim::Certificate& certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate.cert.get(), EVP_sha256(), digest, &length);
    std::string text;
    char hex[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
        text += hex;
    }
    return text;
}

TEST(BmcAccess, CertificateCheckedByPinOrCaBundleBeforeThePasswordGoesOut) {
    const auto authority = bmc_sim::make_certificate_authority(), other = bmc_sim::make_certificate_authority();
    const auto signed_one = bmc_sim::make_certificate_signed_by(authority);
    const auto self_signed = bmc_sim::make_self_signed_certificate();
    bmc_sim::write_certificate(authority, kDir / "ca");
    bmc_sim::write_certificate(other, kDir / "other-ca");
    bmc_sim::write_certificate(signed_one, kDir / "signed");
    bmc_sim::write_certificate(self_signed, kDir / "self");
    struct Case {
        fs::path served;
        std::string host;
        std::string kind;  // empty: the run works
        std::string why;
    };
    const Case cases[] = {
        {kDir / "self", "cert-sha256:" + fingerprint(self_signed), "", ""},
        {kDir / "signed", "cert-ca:" + (kDir / "ca" / "cert.pem").string(), "", ""},
        {kDir / "self", "cert-sha256:" + fingerprint(signed_one), "CertificateMismatch",
         "SHA-256 fingerprint " + fingerprint(self_signed) + ", not the one pinned"},
        {kDir / "signed", "cert-ca:" + (kDir / "other-ca" / "cert.pem").string(), "CertificateRejected",
         "certificate"},
    };
    for (const auto& check : cases) {
        SCOPED_TRACE(check.host);
        auto bmc = bmc_taking(hostile::kPassword, check.served);
        const auto run = run_debug(*bmc, check.host, hostile::kPassword);
        if (check.kind.empty()) {
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            hostile::expect_logged_out(*bmc);
            continue;
        }
        hostile::expect_error_line(run, check.kind, "POST https://" + bmc->url_base() + hostile::kSessions + ": ");
        EXPECT_NE(run.err.find(check.why), std::string::npos) << run.err;
        EXPECT_TRUE(bmc->requests().empty()) << hostile::request_log(*bmc);
    }
}

TEST(BmcAccess, ProxiesOfTheEnvironmentAreNotUsed) {
    kit::RawListener proxy(kit::swallow_until_closed);
    const std::string address = "http://127.0.0.1:" + std::to_string(proxy.port());
    auto bmc = bmc_taking(hostile::kPassword);
    const auto run = run_debug(*bmc, "bmc", hostile::kPassword,
                               {{"https_proxy", address}, {"HTTPS_PROXY", address}, {"ALL_PROXY", address}});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    hostile::expect_logged_out(*bmc);
    EXPECT_EQ(proxy.connections(), 0);
}

}  // namespace
