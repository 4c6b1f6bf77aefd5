#pragma once
// A mode that ends the run with a status throws RunEnd; it unwinds through the
// run-time guard and only main turns it into the process exit status.

namespace support {

struct RunEnd {
    int status;
};

[[noreturn]] void end_run(int status);

}  // namespace support
