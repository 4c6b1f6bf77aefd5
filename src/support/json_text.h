#pragma once
// JSON text in the discovery-document form: ", " and ": " separators, members
// in insertion order, pure ASCII (every other character as a lower-case \u
// escape, surrogate pairs beyond U+FFFF), reals in the real-number text with
// NaN, Infinity and -Infinity unquoted.
#include <string>

#include "support/json.h"

namespace support {

std::string json_text(const Json& value);

// The same text, appended to out.
void append_json_text(std::string& out, const Json& value);

}  // namespace support
