#pragma once
// The reduction of the five documents to the HealthSnapshot: lenient about
// absent members, strict about kinds. A missing document or a value of the
// wrong kind raises support::Failure of kind "DocumentError" that names the
// document, the member path and what was found.
#include "health/snapshot/health_snapshot.h"
#include "redfish/readers.h"

namespace health {

HealthSnapshot build_snapshot(const redfish::Documents& documents);

// A volt or Celsius reading rounded to two decimals (integers unchanged, true
// and false to 1 and 0, null kept); where names it for the error report.
support::Json rounded_reading(const support::Json& reading, const std::string& where);

}  // namespace health
