#pragma once
// A failure that ends the run: main writes "bmc-probe: erro: <kind>: <what>"
// on stderr and ends with status 1. The message says where and why; it never
// holds the password.
#include <stdexcept>
#include <string>

namespace support {

struct Failure : std::runtime_error {
    std::string kind;
    Failure(std::string failure_kind, const std::string& message)
        : std::runtime_error(message), kind(std::move(failure_kind)) {}
};

}  // namespace support
