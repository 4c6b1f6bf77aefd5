#pragma once
// Text from outside (a BMC, a Zabbix server) as our messages and the debug
// report show it: on one line, every control character escaped, never longer
// than a bound. What goes to Zabbix keeps the exact bytes; this is only for
// what a person or a log reads.
#include <cstddef>
#include <string>
#include <string_view>

namespace support {

// Blanks, printable ASCII and valid UTF-8 stay; \n, \r and \t are written as
// such, other control bytes (ESC, NUL, DEL, C1) as \xNN, a backslash as \\,
// and invalid UTF-8 as U+FFFD. Beyond max_bytes of the text the rest is
// replaced by "... (N bytes in all)".
std::string shown_text(std::string_view outside, std::size_t max_bytes = 300);

}  // namespace support
