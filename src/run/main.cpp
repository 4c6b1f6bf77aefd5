// bmc-probe: feeds a Zabbix server with the hardware health of one server
// managed by an OpenBMC BMC, read over Redfish.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "run/constants.h"
#include "run/dispatch.h"
#include "run/settings.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/run_end.h"
#include "support/runtime_limiter.h"

namespace {

// Status 2 when what the run printed cannot be written out.
int finish(int status) { return support::flush_console() ? status : 2; }

int report_failure(support::FailureKind kind, const std::string& message) {
    support::flush_console();
    const std::string name(support::kind_name(kind));
    std::fprintf(stderr, "bmc-probe: erro: %s: %s\n", name.c_str(), message.c_str());
    return 1;
}

std::string critical_error_line() {
    return "Erro crítico -- Contactar Quorvane em: " + std::string(run::SUPPORT_EMAIL) + " ou " +
           std::string(run::SUPPORT_PHONE);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    support::stop_on_signals();
    auto settings = run::parse_command_line(argc, argv);
    if (!settings) {
        support::print_line(critical_error_line());
        support::flush_console();
        return 1;
    }
    const std::string program_name = argc > 0 ? argv[0] : "";
    try {
        run::run_modes(*settings, program_name, std::chrono::seconds(run::RUNTIME_LIMIT));
    } catch (const support::RunEnd& end) {
        return finish(end.status);
    } catch (const support::StopRequested& stop) {
        return report_failure(support::FailureKind::Stopped, stop.what());
    } catch (const support::TimeoutException& timeout) {
        support::print_line(timeout.what());
    } catch (const support::Failure& failure) {
        return report_failure(failure.kind, failure.what());
    } catch (const std::exception& failure) {
        return report_failure(support::FailureKind::Error, failure.what());
    }
    return finish(0);
}
