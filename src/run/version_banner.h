#pragma once
#include <string>

namespace run {

// The version mode: the rights line and the name line, then the end of the
// run with status 0.
[[noreturn]] void get_version(const std::string& program_name);

// "./" in the start name becomes one blank, then two blanks and VERSION.
std::string version_name_line(const std::string& program_name);

}  // namespace run
