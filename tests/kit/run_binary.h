#pragma once
// Runs a program as a user would and captures what it shows: the exit status,
// every byte of stdout and stderr.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kit {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

// The probe the tests run: this build's, or the one BMC_PROBE_UNDER_TEST
// names (the release build's, for what only an allocator that may fail shows).
std::string probe_under_test();

struct RunOptions {
    std::string program = probe_under_test();  // path of the executable
    std::optional<std::string> argv0;        // the start name; the program path when unset
    std::map<std::string, std::string> env;  // added to a clean environment
    std::optional<std::string> stdout_path;  // write stdout to this file instead of a pipe
    std::string working_dir;                 // empty: the current folder
    std::chrono::milliseconds kill_after{60000};
    // Called once with the child's pid right after the start, while it runs
    // and before its output is read; keep it short.
    std::function<void(pid_t)> while_running;
};

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace kit
