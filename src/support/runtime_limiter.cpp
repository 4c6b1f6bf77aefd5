#include "support/runtime_limiter.h"

#include <csignal>

#include "support/real_text.h"

namespace support {
namespace {

const RuntimeLimiter* active_guard = nullptr;
// The signal that asked the run to stop, 0 while none has; set by the handler.
volatile std::sig_atomic_t stop_signal = 0;

void note_stop(int signal) { stop_signal = signal; }

std::string limit_text(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000);
    return real_text(static_cast<double>(limit.count()) / 1000.0);
}

}  // namespace

RuntimeLimiter runtime_limiter(std::chrono::milliseconds limit) {
    return RuntimeLimiter{limit, std::chrono::steady_clock::now() + limit};
}

void enter(RuntimeLimiter& guard) {
    guard.deadline = std::chrono::steady_clock::now() + guard.limit;
    active_guard = &guard;
}

void leave(RuntimeLimiter& guard) {
    const bool was_active = active_guard == &guard;
    if (was_active) active_guard = nullptr;
    if (std::chrono::steady_clock::now() >= guard.deadline) {
        throw TimeoutException("Tempo limite de execução excedido: " + limit_text(guard.limit) + " segundos");
    }
}

void run_bounded(RuntimeLimiter& guard, const std::function<void()>& section) {
    enter(guard);
    try {
        section();
    } catch (...) {
        active_guard = nullptr;
        throw;
    }
    leave(guard);
}

bool run_within(std::chrono::milliseconds limit, const std::function<void()>& section) {
    const RuntimeLimiter* previous = active_guard;
    const RuntimeLimiter own = runtime_limiter(limit);
    active_guard = &own;
    try {
        section();
    } catch (const TimeoutException&) {
        active_guard = previous;
        return false;
    } catch (...) {
        active_guard = previous;
        throw;
    }
    active_guard = previous;
    return true;
}

bool bound_active() { return active_guard != nullptr; }

void raise_timeout() {
    const auto limit = active_guard ? active_guard->limit : std::chrono::milliseconds(0);
    active_guard = nullptr;
    throw TimeoutException("Tempo limite de execução excedido: " + limit_text(limit) + " segundos");
}

StopRequested::StopRequested(int signal_number)
    : TimeoutException(std::string("stopped by ") + (signal_number == SIGINT ? "SIGINT" : "SIGTERM") +
                       " before the run was done"),
      signal(signal_number) {}

void stop_on_signals() {
    struct sigaction action {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting poll() returns, and its caller asks time_left()
    for (const int signal : {SIGTERM, SIGINT}) {
        struct sigaction before {};
        sigaction(signal, nullptr, &before);
        // A shell starts background commands with SIGINT ignored; they stay so.
        if (before.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

std::chrono::milliseconds time_left() {
    if (!active_guard) return std::chrono::milliseconds::max();
    if (const int signal = stop_signal; signal != 0) {
        stop_signal = 0;  // raised once: the logout that follows may still wait
        active_guard = nullptr;
        throw StopRequested(signal);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(active_guard->deadline -
                                                                            std::chrono::steady_clock::now());
    if (left.count() <= 0) raise_timeout();
    return left;
}

}  // namespace support
