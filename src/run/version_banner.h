#pragma once
#include <string>

#include "support/run_outcome.h"

namespace run {

// The version mode: the rights line and the name line.
support::RunOutcome get_version(const std::string& program_name);

// "./" in the start name becomes one blank, then two blanks and VERSION.
std::string version_name_line(const std::string& program_name);

}  // namespace run
