#include "support/failure.h"

#include <ostream>

namespace support {

std::string_view kind_name(FailureKind kind) {
    switch (kind) {
        case FailureKind::MissingSetting: return "MissingSetting";
        case FailureKind::InvalidSetting: return "InvalidSetting";
        case FailureKind::UnreadableFile: return "UnreadableFile";
        case FailureKind::TransportError: return "TransportError";
        case FailureKind::CertificateMismatch: return "CertificateMismatch";
        case FailureKind::CertificateRejected: return "CertificateRejected";
        case FailureKind::UnsafeHeader: return "UnsafeHeader";
        case FailureKind::ResponseTooLarge: return "ResponseTooLarge";
        case FailureKind::InvalidJson: return "InvalidJson";
        case FailureKind::MemoryBudget: return "MemoryBudget";
        case FailureKind::OutOfMemory: return "OutOfMemory";
        case FailureKind::DocumentError: return "DocumentError";
        case FailureKind::ZabbixConfig: return "ZabbixConfig";
        case FailureKind::ZabbixError: return "ZabbixError";
        case FailureKind::ZabbixRefused: return "ZabbixRefused";
        case FailureKind::InvalidRowName: return "InvalidRowName";
        case FailureKind::Stopped: return "Stopped";
        case FailureKind::Error: return "Error";
    }
    return "Error";
}

std::ostream& operator<<(std::ostream& out, FailureKind kind) { return out << kind_name(kind); }

}  // namespace support
