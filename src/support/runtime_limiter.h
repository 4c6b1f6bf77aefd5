#pragma once
// The run-time guard: a deadline for the bounded section. Everything that
// blocks (HTTPS requests, Zabbix sockets) asks time_left() for its own limit,
// so the bound holds without timers or threads. A stop asked for by a signal
// is noted and raised the same way, where the run next waits.
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace support {

struct TimeoutException : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A run stopped by SIGTERM (Zabbix at an external check's time-out, systemd
// stopping the service) or SIGINT. It takes the paths of a hit bound, so a run
// that has logged in logs out within its grace first; main then reports it as
// a failure.
struct StopRequested : TimeoutException {
    int signal;
    explicit StopRequested(int signal_number);
};

// Installs the handlers of SIGTERM and SIGINT, which only note the signal; it
// is raised as StopRequested by the next time_left() inside a bounded section.
// Blocking calls are not restarted after the signal, so that they return to
// ask.
void stop_on_signals();

struct RuntimeLimiter {
    std::chrono::milliseconds limit;
    std::chrono::steady_clock::time_point deadline;
};

RuntimeLimiter runtime_limiter(std::chrono::milliseconds limit);

// Enter step: the guard's deadline becomes the one time_left() answers for.
void enter(RuntimeLimiter& guard);
// Exit step: the deadline is dropped; raises TimeoutException if it has passed.
void leave(RuntimeLimiter& guard);

// Runs section between the enter and exit steps. A failure or RunEnd from the
// section passes through unchanged after the guard has been left.
void run_bounded(RuntimeLimiter& guard, const std::function<void()>& section);

// Runs section under a bound of its own, in place of the active one (if any)
// for its length: for the one step that may go on once the run's bound has
// been hit. False when that bound cut the section off; other failures pass
// through. The guard active before is active again afterwards.
bool run_within(std::chrono::milliseconds limit, const std::function<void()>& section);

// Time the active guard still allows; raises TimeoutException when none is left.
// Without an active guard there is no bound.
std::chrono::milliseconds time_left();
bool bound_active();

// Raises the active guard's TimeoutException; for blocking calls that ran out.
[[noreturn]] void raise_timeout();

}  // namespace support
