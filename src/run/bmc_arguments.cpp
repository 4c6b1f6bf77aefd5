#include "run/bmc_arguments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/failure.h"
#include "support/shown_text.h"
#include "support/text.h"

namespace run {
namespace {

using support::Failure;
using support::FailureKind;

// A password file beyond this is not one.
constexpr std::size_t kMaxPasswordBytes = 4096;

struct OpenFile {
    int fd = -1;
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd >= 0) close(fd);
    }
};

std::string_view without_prefix(std::string_view text, std::string_view prefix) { return text.substr(prefix.size()); }

bool starts_with(std::string_view text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

// Opens a regular file for reading, without waiting on a pipe or a device;
// what names the file in the failure ("the password file /etc/...").
void open_regular(OpenFile& file, const std::string& path, const std::string& what) {
    if (path.empty() || path.front() != '/')
        throw Failure(FailureKind::InvalidSetting, what + ": not an absolute path");
    file.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (file.fd < 0 || fstat(file.fd, &status) != 0)
        throw Failure(FailureKind::UnreadableFile, what + ": " + std::strerror(errno));
    if (!S_ISREG(status.st_mode)) throw Failure(FailureKind::UnreadableFile, what + ": not a regular file");
}

std::string password_in_file(const std::string& path, const std::string& what) {
    OpenFile file;
    open_regular(file, path, what);
    std::string text(kMaxPasswordBytes + 1, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = read(file.fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Failure(FailureKind::UnreadableFile, what + ": " + std::strerror(errno));
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled > kMaxPasswordBytes)
        throw Failure(FailureKind::InvalidSetting,
                      what + ": larger than " + std::to_string(kMaxPasswordBytes) + " bytes, not a password");
    text.resize(filled);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) throw Failure(FailureKind::InvalidSetting, what + ": holds no password");
    return text;
}

std::string password_in_credential(const std::string& name) {
    const std::string what = "the credential " + support::shown_text(name);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw Failure(FailureKind::InvalidSetting, what + ": not a credential name");
    const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
    if (directory == nullptr || *directory == '\0')
        throw Failure(FailureKind::MissingSetting,
                      what + ": $CREDENTIALS_DIRECTORY is not set (systemd sets it for a unit's LoadCredential=)");
    const std::string path = std::string(directory) + "/" + name;
    return password_in_file(path, what + " (" + support::shown_text(path) + ")");
}

std::string fingerprint_bytes(std::string_view argument) {
    std::string hex(without_prefix(argument, "cert-sha256:"));
    hex.erase(std::remove(hex.begin(), hex.end(), ':'), hex.end());
    const bool valid = hex.size() == 64 && support::is_hex(hex);
    if (!valid)
        throw Failure(FailureKind::InvalidSetting,
                      "the host argument " + support::shown_text(argument) +
                          ": not a SHA-256 fingerprint (64 hexadecimal digits, colons allowed)");
    return support::hex_bytes(hex);
}

}  // namespace

std::string password_of(const std::string& argument) {
    if (starts_with(argument, "pass:")) return std::string(without_prefix(argument, "pass:"));
    if (starts_with(argument, "credential:"))
        return password_in_credential(std::string(without_prefix(argument, "credential:")));
    if (starts_with(argument, "file:")) {
        const std::string path(without_prefix(argument, "file:"));
        return password_in_file(path, "the password file " + support::shown_text(path));
    }
    return argument;
}

redfish::https::CertificateCheck certificate_check_of(const std::string& argument) {
    if (starts_with(argument, "cert-sha256:")) return {{}, fingerprint_bytes(argument)};
    if (starts_with(argument, "cert-ca:")) {
        const std::string path(without_prefix(argument, "cert-ca:"));
        OpenFile file;
        open_regular(file, path, "the CA bundle " + support::shown_text(path));
        return {path, {}};
    }
    if (starts_with(argument, "cert-") && argument.find(':') != std::string::npos)
        throw Failure(FailureKind::InvalidSetting, "the host argument " + support::shown_text(argument) +
                                                       ": no certificate check of that name (cert-sha256:, cert-ca:)");
    return {};
}

redfish::BmcAccess bmc_access(const RunSettings& settings) {
    return {settings.url_base, settings.user, password_of(settings.pwd), certificate_check_of(settings.host)};
}

}  // namespace run
