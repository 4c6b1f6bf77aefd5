#pragma once
// A failure that ends the run: main writes "bmc-probe: erro: <kind>: <what>"
// on stderr and ends with status 1. The message says where and why; it never
// holds the password.
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

namespace support {

// Every kind of failure the program reports; kind_name gives the word the
// error report shows.
enum class FailureKind {
    MissingSetting,    // a setting the mode needs was not given
    TransportError,    // the BMC could not be reached, or the connection broke
    UnsafeHeader,      // a request header would carry a control character
    ResponseTooLarge,  // a BMC answer beyond the body cap
    InvalidJson,       // a BMC answer that is not a JSON document we accept
    MemoryBudget,      // the BMC's answers, each within the body cap, beyond the run's memory budget
    OutOfMemory,       // the system refused memory (std::bad_alloc)
    DocumentError,     // a document that is missing or holds a value of the wrong kind
    ZabbixConfig,      // the Zabbix server could not be found from the configuration
    ZabbixError,       // the Zabbix server could not be reached, or answered badly
    ZabbixRefused,     // Zabbix refused fixed items or discovery documents
    InvalidRowName,    // a discovery row's name is not text, so its keys cannot be built
    Stopped,           // SIGTERM or SIGINT stopped the run before it was done
    Error,             // anything else that was not foreseen

    // The settings of the BMC's access and its certificate.
    InvalidSetting,       // an argument that does not say what its form asks for
    UnreadableFile,       // a file an argument names (password, CA bundle) could not be read
    CertificateMismatch,  // the BMC's certificate is not the one pinned
    CertificateRejected,  // the BMC's certificate does not verify against the CA bundle named
};

std::string_view kind_name(FailureKind kind);
std::ostream& operator<<(std::ostream& out, FailureKind kind);

struct Failure : std::runtime_error {
    FailureKind kind;
    Failure(FailureKind failure_kind, const std::string& message) : std::runtime_error(message), kind(failure_kind) {}
};

}  // namespace support
