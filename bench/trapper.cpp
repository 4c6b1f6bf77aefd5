// bench-trapper: the fastest Zabbix trapper we can write, for the benchmark.
// One thread on 127.0.0.1: reads one sender frame per connection, answers
// "success" and closes. On SIGTERM it prints how many connections, frames,
// values and payload bytes it saw, and the first frames' sizes as a plan
// ("values:bytes,..."), which the floor client repeats. With a file argument
// it also appends, for each frame, one line per host in it:
// "UNIX_MS HOST VALUES RUNS_OK", RUNS_OK counting its bmcProbeRun values "OK"
// (the fleet bench counts what each simulated BMC delivered, and when).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "kit/sender_frame.h"

namespace {

volatile sig_atomic_t stopping = 0;
void on_stop(int) { stopping = 1; }

constexpr long kPlanFrames = 64;

bool read_exactly(int fd, char* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t got = read(fd, buffer, size);
        if (got <= 0) return false;
        buffer += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Each data item begins with its host.
long values_in(const std::string& payload) {
    long values = 0;
    for (auto at = payload.find("{\"host\":"); at != std::string::npos; at = payload.find("{\"host\":", at + 1))
        ++values;
    return values;
}

// Per host: its values in the payload and its bmcProbeRun values "OK".
std::map<std::string, std::pair<long, long>> values_by_host(const std::string& payload) {
    static const std::string kHost = "{\"host\":\"", kRunOk = "\"key\":\"bmcProbeRun\",\"value\":\"OK\"";
    std::map<std::string, std::pair<long, long>> hosts;
    for (auto at = payload.find(kHost); at != std::string::npos;) {
        const auto start = at + kHost.size(), end = payload.find('"', start);
        if (end == std::string::npos) break;
        const auto next = payload.find(kHost, end);
        auto& counts = hosts[payload.substr(start, end - start)];
        ++counts.first;
        const auto run_ok = payload.find(kRunOk, end);
        if (run_ok != std::string::npos && run_ok < next) ++counts.second;
        at = next;
    }
    return hosts;
}

void log_hosts(std::FILE* log, const std::string& payload) {
    using namespace std::chrono;
    const long long now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    for (const auto& [host, counts] : values_by_host(payload))
        std::fprintf(log, "%lld %s %ld %ld\n", now, host.c_str(), counts.first, counts.second);
}

// The payload of a whole frame that was answered; empty when none was.
std::string serve(int fd, const std::string& reply) {
    char header[kit::kFrameHeaderSize];
    if (!read_exactly(fd, header, sizeof header)) return {};
    const std::uint32_t size = kit::announced_size(header);
    if (size == 0 || size > (64u << 20)) return {};
    std::string payload(size, '\0');
    if (!read_exactly(fd, payload.data(), size)) return {};
    if (write(fd, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return {};
    return payload;
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* hosts_log = argc > 1 ? std::fopen(argv[1], "w") : nullptr;
    if (argc > 1 && hosts_log == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = on_stop;  // no SA_RESTART: accept returns EINTR
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 512) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("bench-trapper");
        return 1;
    }
    std::printf("listening 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    const std::string reply =
        kit::frame(R"({"response":"success","info":"processed: 1; failed: 0; total: 1; seconds spent: 0.000010"})");
    long connections = 0, frames = 0, values = 0, bytes = 0;
    std::string plan;
    while (!stopping) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections;
        const std::string payload = serve(fd, reply);
        close(fd);
        if (payload.empty()) continue;
        const long in_frame = values_in(payload);
        if (frames++ < kPlanFrames)
            plan += (plan.empty() ? "" : ",") + std::to_string(in_frame) + ":" + std::to_string(payload.size());
        values += in_frame;
        if (hosts_log != nullptr) log_hosts(hosts_log, payload);
        bytes += static_cast<long>(payload.size());
    }
    std::printf("connections %ld frames %ld values %ld bytes %ld\nplan %s\n", connections, frames, values, bytes,
                plan.empty() ? "-" : plan.c_str());
    if (hosts_log != nullptr) std::fclose(hosts_log);
    return 0;
}
