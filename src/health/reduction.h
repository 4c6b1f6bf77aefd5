#pragma once
// The reduction of the five documents to the HealthSnapshot: lenient about
// absent members, strict about kinds. A missing document or a value of the
// wrong kind raises support::Failure of kind "DocumentError" that names the
// document, the member path and what was found.
#include <string>
#include <string_view>

#include "health/items.h"
#include "health/snapshot.h"
#include "redfish/readers.h"
#include "support/failure.h"

namespace health {

// The main mode's reduction: each item by its dotted member path; an absent
// or null Status word is the flag 0, and every fan reading is RPM.
HealthSnapshot build_snapshot(const redfish::Documents& documents);

// A Status word as a flag: 1 when it is the text the take asks for ("OK"
// for FlagOk, "Enabled" for FlagEnabled), 0 for anything else.
support::Json status_flag(const support::Json& word, Take take);

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
