#pragma once
// Lines on stderr for a long-lived process: each written whole by one call,
// so that lines of threads never mix.
#include <string_view>

namespace support {

void log_line(std::string_view text);

}  // namespace support
