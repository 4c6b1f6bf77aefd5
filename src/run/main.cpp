// bmc-probe: feeds a Zabbix server with the hardware health of one server
// managed by a BMC, read over Redfish.
#include <sys/prctl.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <new>
#include <string>

#include "redfish/https.h"
#include "run/dispatch.h"
#include "run/fleet.h"
#include "run/settings.h"
#include "support/console.h"
#include "support/program.h"

#ifndef BMC_PROBE_RUNTIME_LIMIT
#define BMC_PROBE_RUNTIME_LIMIT 900
#endif

namespace {

// Bound on the whole run, in seconds. Test builds may shorten it at compile time.
constexpr int RUNTIME_LIMIT = BMC_PROBE_RUNTIME_LIMIT;

// The signal that asked the run to stop, 0 while none has; the run's guard
// raises it where the run next waits.
volatile std::sig_atomic_t stop_signal = 0;

void note_stop(int signal) { stop_signal = signal; }

// SIGTERM (Zabbix at an external check's time-out, systemd stopping the
// service) and SIGINT only note the signal. Blocking calls are not restarted
// after it, so that they return to ask the guard.
void stop_on_signals() {
    struct sigaction action {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int signal : {SIGTERM, SIGINT}) {
        struct sigaction before {};
        sigaction(signal, nullptr, &before);
        // A shell starts background commands with SIGINT ignored; they stay so.
        if (before.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

// A core file would hold the password and the session's token.
void forbid_core_dumps() {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Status 2 when what the run printed cannot be written out.
int finish(int status) { return support::flush_console() ? status : 2; }

// Allocates nothing, so that it holds when memory is short.
int report_failure(support::FailureKind kind, const char* message) {
    support::flush_console();
    const std::string_view name = support::kind_name(kind);
    std::fprintf(stderr, "bmc-probe: erro: %.*s: %s\n", static_cast<int>(name.size()), name.data(), message);
    return 1;
}

std::string critical_error_line() {
    return "Erro crítico -- Contactar Quorvane em: " + std::string(support::SUPPORT_EMAIL) + " ou " +
           std::string(support::SUPPORT_PHONE);
}

// "fleet FILE": the long-lived process, which takes its signals itself.
int fleet(const std::string& path) {
    const support::RunOutcome outcome = run::run_fleet(path, std::chrono::seconds(RUNTIME_LIMIT));
    if (outcome.failure) return report_failure(outcome.failure->kind, outcome.failure->what());
    return outcome.status;
}

int probe(int argc, char** argv) {
    auto settings = run::parse_command_line(argc, argv);
    if (settings && settings->fleet_file) return fleet(*settings->fleet_file);
    stop_on_signals();
    if (!settings) {
        support::print_line(critical_error_line());
        support::flush_console();
        return 1;
    }
    redfish::https::initialise();
    const std::string program_name = argc > 0 ? argv[0] : "";
    const support::RunOutcome outcome =
        run::run_modes(*settings, program_name, std::chrono::seconds(RUNTIME_LIMIT), &stop_signal);
    if (outcome.failure) return report_failure(outcome.failure->kind, outcome.failure->what());
    if (!outcome.notice.empty()) support::print_line(outcome.notice);
    return finish(outcome.status);
}

}  // namespace

int main(int argc, char** argv) {
    forbid_core_dumps();
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return probe(argc, argv);
    } catch (const std::bad_alloc&) {
        // Memory ran out outside the run (its settings, its report).
        return report_failure(support::FailureKind::OutOfMemory, "the system refused memory (std::bad_alloc)");
    }
}
