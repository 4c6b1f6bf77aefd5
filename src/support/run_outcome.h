#pragma once
// How a run ended, as a mode returns it. main alone turns it into the exit
// status and the one error line.
#include <optional>
#include <string>

#include "support/failure.h"

namespace support {

struct RunOutcome {
    int status = 0;
    std::optional<Failure> failure;  // the failure that ended the run: main writes its line on stderr
    std::string notice;              // a last line on standard output (the time limit's text)
};

inline RunOutcome finished(int status = 0) { return RunOutcome{status, std::nullopt, ""}; }

inline RunOutcome failed(const Failure& failure) { return RunOutcome{1, failure, ""}; }

}  // namespace support
