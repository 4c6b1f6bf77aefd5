#pragma once
// JSON text from outside parsed into a Json in time and memory that grow
// linearly with the text, whatever it holds: the library's own parser looks
// member names up one by one (quadratic in a wide object) and cannot be
// stopped or bounded while it runs.
#include <string_view>

#include "support/json.h"
#include "support/memory_budget.h"
#include "support/run_guard.h"

namespace support {

struct JsonLimits {
    int max_nesting = 0;             // arrays and objects deeper than this are refused
    MemoryBudget* budget = nullptr;  // charged with what is built; none: unbounded
    RunGuard* guard = nullptr;       // asked every few thousand values; none: unbounded
};

// The document as Json::parse gives it: a repeated member name keeps its first
// place and its last value, text that is not JSON raises Json::parse_error
// and a number beyond a double Json::out_of_range, as the library words them.
// Deeper nesting raises a Failure (InvalidJson), an overrun of the budget a
// Failure (MemoryBudget), both saying why but not where; the guard raises
// Interrupted. What was built so far is then freed.
Json parse_json(std::string_view text, const JsonLimits& limits);

}  // namespace support
