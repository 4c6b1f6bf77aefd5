// bmc-sim: a simulated Redfish service on 127.0.0.1 for trying the probe by
// hand, serving an OpenBMC scenario or a captured Redfish tree; with --ports, a
// whole fleet of them, one per port. Serves until SIGTERM or SIGINT, then
// prints how many TLS connections and requests it served.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "bmc-sim/fleet.h"
#include "bmc-sim/test_bmc.h"

namespace {

struct Arguments {
    int port = 0;
    std::string scenario;
    std::optional<std::string> cert_dir;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::chrono::milliseconds read_delay{0};
    std::chrono::milliseconds delay{0};
    std::optional<std::string> session_log;
    int first_port = 0, last_port = 0;  // --ports
    std::size_t threads = 1024;
    std::optional<int> keep_alive;
    std::optional<std::string> run_log;
};

constexpr const char* kUsage =
    "usage: bmc-sim [--port N] [--scenario DIR|INDEX] [--cert-dir DIR] [--user NAME] [--password TEXT]\n"
    "               [--read-delay SECONDS] [--delay-ms N] [--session-log FILE]\n"
    "  --port 0 (the default) picks a free port; the first line printed names it.\n"
    "  --scenario: a five-file folder (the default: tests/testdata/a_healthy of the\n"
    "    source tree), a capture folder holding redfish/v1/.../index.json, or an\n"
    "    index file mapping each URL to a body file and a status.\n"
    "  --cert-dir keeps cert.pem and key.pem there (made when missing).\n"
    "  --user, --password: the only credentials accepted (any when not given).\n"
    "  --read-delay: every resource read is answered that late (a slow or hung BMC).\n"
    "  --delay-ms: every answer waits that much longer (a BMC far away or busy).\n"
    "  --session-log: a line \"login ID\" or \"logout ID\" for each session opened or closed.\n"
    "  --keep-alive-s N: an idle connection is closed after N seconds (60).\n"
    "A fleet: bmc-sim --ports FIRST-LAST [--threads N] [--run-log FILE] [the options above]\n"
    "  one simulated BMC on each port of the range, each with its own sessions;\n"
    "  --threads: connections served at once over all of them (1024);\n"
    "  --run-log: \"UNIX_MS PORT login\" and \"UNIX_MS PORT logout\" for each session.\n"
    "  It prints \"listening 127.0.0.1:FIRST-LAST\", and its sums on SIGTERM.\n";

// "FIRST-LAST"
void parse_ports(const std::string& value, Arguments& arguments) {
    const auto dash = value.find('-');
    if (dash == std::string::npos) throw std::invalid_argument("--ports wants FIRST-LAST");
    arguments.first_port = std::stoi(value.substr(0, dash));
    arguments.last_port = std::stoi(value.substr(dash + 1));
}

Arguments parse_arguments(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") throw std::invalid_argument("");
        if (i + 1 >= argc) throw std::invalid_argument("missing value after " + option);
        const std::string value = argv[++i];
        if (option == "--port") arguments.port = std::stoi(value);
        else if (option == "--scenario") arguments.scenario = value;
        else if (option == "--cert-dir") arguments.cert_dir = value;
        else if (option == "--user") arguments.user = value;
        else if (option == "--password") arguments.password = value;
        else if (option == "--read-delay") arguments.read_delay = std::chrono::seconds(std::stoi(value));
        else if (option == "--delay-ms") arguments.delay = std::chrono::milliseconds(std::stoi(value));
        else if (option == "--session-log") arguments.session_log = value;
        else if (option == "--ports") parse_ports(value, arguments);
        else if (option == "--threads") arguments.threads = std::stoul(value);
        else if (option == "--keep-alive-s") arguments.keep_alive = std::stoi(value);
        else if (option == "--run-log") arguments.run_log = value;
        else throw std::invalid_argument("unknown option " + option);
    }
    return arguments;
}

void on_stop_signal(int) {}

sigset_t stop_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File open_log(const std::optional<std::string>& path) {
    File log(nullptr, std::fclose);
    if (!path) return log;
    log.reset(std::fopen(path->c_str(), "a"));
    if (!log) throw std::runtime_error("bmc-sim: cannot open " + *path);
    return log;
}

int serve_fleet(const Arguments& arguments, const bmc_sim::Options& each, const sigset_t& signals) {
    const File run_log = open_log(arguments.run_log);
    // Read while the fleet serves: whole lines only.
    if (run_log) std::setvbuf(run_log.get(), nullptr, _IOLBF, 0);
    bmc_sim::FleetOptions options{arguments.first_port, arguments.last_port, arguments.threads, run_log.get()};
    bmc_sim::Fleet fleet = bmc_sim::start_fleet(each, options);
    std::printf("listening 127.0.0.1:%d-%d\n", arguments.first_port, arguments.last_port);
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    bmc_sim::stop_fleet(fleet);
    const bmc_sim::Counts counts = bmc_sim::fleet_counts(fleet);
    std::printf("bmcs %zu tls-connections %d requests %zu logins %d logouts %d open-sessions %d\n", fleet.size(),
                counts.tls_connections, counts.requests, counts.logins, counts.logouts, counts.open_sessions);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Blocked before any thread starts, so that only sigwait below sees them.
    // A handler of their own, since a shell starts background jobs with
    // SIGINT ignored, and ignored signals never reach sigwait.
    signal(SIGTERM, on_stop_signal);
    signal(SIGINT, on_stop_signal);
    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        const Arguments arguments = parse_arguments(argc, argv);
        bmc_sim::Options options;
        options.port = arguments.port;
        options.scenario = bmc_sim::load_scenario(arguments.scenario.empty() ? bmc_sim::default_scenario_dir()
                                                                             : std::filesystem::path(arguments.scenario));
        options.cert_dir = arguments.cert_dir;
        options.user = arguments.user;
        options.password = arguments.password;
        options.read_delay = arguments.read_delay;
        options.delay = arguments.delay;
        if (arguments.keep_alive) options.keep_alive_seconds = *arguments.keep_alive;
        if (arguments.first_port != 0) return serve_fleet(arguments, options, signals);
        const File session_log = open_log(arguments.session_log);
        if (session_log) {
            options.on_session = [log = session_log.get()](const std::string& event) {
                std::fprintf(log, "%s\n", event.c_str());
                std::fflush(log);
            };
        }
        bmc_sim::TestBmc bmc(std::move(options));
        bmc.start();
        std::printf("listening %s\n", bmc.url_base().c_str());
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
        bmc.stop();
        // For the benchmark, which counts connections per run.
        std::printf("tls-connections %d requests %zu\n", bmc.tls_connections(), bmc.requests().size());
        return 0;
    } catch (const std::invalid_argument& error) {
        if (std::strlen(error.what()) > 0) std::fprintf(stderr, "bmc-sim: %s\n", error.what());
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
