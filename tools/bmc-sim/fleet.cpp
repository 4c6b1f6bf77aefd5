#include "bmc-sim/fleet.h"

#include <pthread.h>
#include <sys/resource.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace bmc_sim {
namespace {

// Every BMC needs its listening socket, and each connection in flight one
// more; the rest is the process's own (files, the pool's pipes).
constexpr rlim_t kSpareFiles = 256;

void raise_file_limit(rlim_t listeners, std::size_t connections) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) throw std::runtime_error("bmc-sim: getrlimit failed");
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) throw std::runtime_error("bmc-sim: cannot raise the open-file limit");
    const rlim_t needed = listeners + connections + kSpareFiles;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed)
        throw std::runtime_error("bmc-sim: " + std::to_string(listeners) + " ports and " + std::to_string(connections) +
                                 " connections need " + std::to_string(needed) + " open files; the hard limit is " +
                                 std::to_string(limit.rlim_cur));
}

// Thousands of listening threads and workers, each mostly asleep: small
// stacks keep the fleet's address space and page tables small.
void use_small_thread_stacks() {
    constexpr std::size_t kStack = 256 * 1024;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStack);
    pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
}

long long unix_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::function<void(const std::string&)> session_logger(std::FILE* log, int port) {
    if (log == nullptr) return {};
    return [log, port](const std::string& event) {
        const std::string kind = event.substr(0, event.find(' '));
        std::fprintf(log, "%lld %d %s\n", unix_ms(), port, kind.c_str());
    };
}

}  // namespace

Fleet start_fleet(const Options& each, const FleetOptions& fleet) {
    if (fleet.first_port <= 0 || fleet.last_port < fleet.first_port || fleet.last_port > 65535)
        throw std::invalid_argument("--ports wants FIRST-LAST, 1 <= FIRST <= LAST <= 65535");
    const auto count = static_cast<rlim_t>(fleet.last_port - fleet.first_port + 1);
    raise_file_limit(count, fleet.threads);
    use_small_thread_stacks();
    Options shared = each;
    if (!shared.shared_scenario) shared.shared_scenario = std::make_shared<const Scenario>(std::move(shared.scenario));
    shared.scenario = {};
    if (!shared.certificate) shared.certificate = std::make_shared<const Certificate>(make_self_signed_certificate());
    if (!shared.workers) shared.workers = make_shared_workers(fleet.threads);
    shared.record_requests = false;
    Fleet started;
    started.reserve(count);
    for (int port = fleet.first_port; port <= fleet.last_port; ++port) {
        Options options = shared;
        options.port = port;
        options.on_session = session_logger(fleet.run_log, port);
        started.push_back(std::make_unique<TestBmc>(std::move(options)));
        started.back()->start(false);
    }
    for (auto& bmc : started) bmc->wait_until_serving();
    return started;
}

void stop_fleet(Fleet& fleet) {
    for (auto& bmc : fleet) bmc->stop();
}

Counts fleet_counts(const Fleet& fleet) {
    Counts total;
    for (const auto& bmc : fleet) {
        const Counts counts = bmc->counts();
        total.requests += counts.requests;
        total.tls_connections += counts.tls_connections;
        total.logins += counts.logins;
        total.logouts += counts.logouts;
        total.open_sessions += counts.open_sessions;
    }
    return total;
}

}  // namespace bmc_sim
