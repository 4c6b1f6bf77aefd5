#pragma once
// The bound of one run: a deadline, and the stop a signal may ask for. The run
// owns its guard and hands it to everything that blocks (HTTPS requests,
// Zabbix sockets), which asks time_left() for its own limit, so the bound
// holds without timers or threads.
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>

namespace support {

// A run cut short before it was done: by its time bound, or by SIGTERM
// (Zabbix at an external check's time-out, systemd stopping the service) or
// SIGINT. Either way a run that has logged in logs out within its grace.
struct Interrupted : std::runtime_error {
    enum class Cause { TimeLimit, Stop };
    Cause cause;
    Interrupted(Cause why, const std::string& message) : std::runtime_error(message), cause(why) {}
};

struct RunGuard {
    std::chrono::milliseconds limit;
    std::chrono::steady_clock::time_point deadline;
    // The signal that asked the process to stop, 0 while none has; written by
    // the handler main installs. Null: the guard heeds no signal.
    const volatile std::sig_atomic_t* stop_signal = nullptr;
    // A stop is raised once, so that the logout after it may still wait.
    bool stop_raised = false;
    // While set, a stop does not cut what is on its way: it brings the
    // deadline within the logout's grace and is raised at the first ask
    // after the flag is cleared (or when that deadline passes).
    bool stop_deferred = false;
};

RunGuard run_guard(std::chrono::milliseconds limit, const volatile std::sig_atomic_t* stop_signal = nullptr);

// Time the guard still allows; raises Interrupted when none is left, or the
// first time it is asked after a stop signal (unless the stop is deferred).
std::chrono::milliseconds time_left(RunGuard& guard);

// The same as a poll() time-out in milliseconds.
int poll_time_left(RunGuard& guard);

// Raises the guard's time limit; for blocking calls that ran out.
[[noreturn]] void raise_time_limit(const RunGuard& guard);

// At the end of the bounded section: raises the time limit when the deadline
// has passed, even if nothing waited since.
void check_deadline(const RunGuard& guard);

}  // namespace support
