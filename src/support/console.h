#pragma once
// Standard output of the program: one message a line, buffered, written out
// at the end of the run. flush_console reports whether it could be written.
#include <string_view>

namespace support {

void print_line(std::string_view text);
void print_text(std::string_view text);
bool flush_console();

// From now on nothing is printed: for the fleet, whose runs have no report.
void silence_console();

}  // namespace support
