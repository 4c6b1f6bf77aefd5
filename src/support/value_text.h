#pragma once
// The text of one value as a person reads it in the debug report, and as it
// goes to Zabbix: text unquoted, integers in decimal, reals in the real-number
// text (nan, inf, -inf), True and False, None for null, and arrays and objects
// as their discovery-document JSON text.
#include <string>

#include "support/json.h"

namespace support {

std::string value_text(const Json& value);

}  // namespace support
