#pragma once
// The reduction of the five documents to the HealthSnapshot: lenient about
// absent members, strict about kinds. A missing document or a value of the
// wrong kind raises support::Failure of kind "DocumentError" that names the
// document, the member path and what was found.
#include <string>
#include <string_view>

#include "health/snapshot/health_snapshot.h"
#include "redfish/readers.h"
#include "support/failure.h"

namespace health {

// The rules of the mode that read the documents. The main mode's keep the
// original system's: an absent or null Status word is the flag 0, and every
// fan reading is RPM. The generic mode's documents hold only what the BMC
// publishes (redfish/service_rules.h): there an absent Status word is "N/A"
// (nothing Zabbix takes for a problem), and a fan element in percent
// (ReadingUnits "Percent") gives its list's percent reading.
enum class Rules { OpenBMC, Redfish };

HealthSnapshot build_snapshot(const redfish::Documents& documents, Rules rules = Rules::OpenBMC);

// The DocumentError for a document whose read failed, of its own type so
// that the caller can add advice to it.
struct MissingDocument : support::Failure {
    explicit MissingDocument(std::string_view document);
};

// A volt or Celsius reading that is present, rounded to two decimals: integers
// unchanged, true and false to 1 and 0, reals to the nearest multiple of 0.01
// (ties to even, non-finite kept), null kept (an unreadable sensor). Text,
// arrays and objects raise a DocumentError; where names the reading for it.
// An absent reading never comes here: it is "N/A".
support::Json rounded_reading(const support::Json& reading, const std::string& where);

}  // namespace health
