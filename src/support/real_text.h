#pragma once
// The real-number text: the shortest decimal that reads back to the same
// double, positional for decimal exponents -4 to 15 (12.0, 0.0001, -0.0),
// scientific otherwise (1e+16, 9e-05, 1.5e+300).
#include <string>

namespace support {

enum class NonFinite {
    Console,  // nan, inf, -inf: the console report and the values sent to Zabbix
    Json,     // NaN, Infinity, -Infinity: inside a discovery document
};

std::string real_text(double value, NonFinite style = NonFinite::Console);

}  // namespace support
