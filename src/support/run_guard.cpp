#include "support/run_guard.h"

#include <algorithm>
#include <climits>

#include "support/program.h"
#include "support/real_text.h"

namespace support {
namespace {

std::string limit_text(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000);
    return real_text(static_cast<double>(limit.count()) / 1000.0);
}

std::string signal_name(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

[[noreturn]] void raise_stop(RunGuard& guard, int signal) {
    guard.stop_raised = true;
    throw Interrupted(Interrupted::Cause::Stop, "stopped by " + signal_name(signal) + " before the run was done");
}

}  // namespace

RunGuard run_guard(std::chrono::milliseconds limit, const volatile std::sig_atomic_t* stop_signal) {
    return RunGuard{limit, std::chrono::steady_clock::now() + limit, stop_signal, false};
}

std::chrono::milliseconds time_left(RunGuard& guard) {
    const auto now = std::chrono::steady_clock::now();
    if (guard.stop_signal != nullptr && !guard.stop_raised)
        if (const int signal = *guard.stop_signal; signal != 0) {
            if (!guard.stop_deferred || now >= guard.deadline) raise_stop(guard, signal);
            guard.deadline = std::min(guard.deadline, now + std::chrono::seconds(LOGOUT_GRACE));
        }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(guard.deadline - now);
    if (left.count() <= 0) raise_time_limit(guard);
    return left;
}

int poll_time_left(RunGuard& guard) {
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(time_left(guard).count(), INT_MAX));
}

void raise_time_limit(const RunGuard& guard) {
    throw Interrupted(Interrupted::Cause::TimeLimit,
                      "Tempo limite de execução excedido: " + limit_text(guard.limit) + " segundos");
}

void check_deadline(const RunGuard& guard) {
    if (std::chrono::steady_clock::now() >= guard.deadline) raise_time_limit(guard);
}

}  // namespace support
