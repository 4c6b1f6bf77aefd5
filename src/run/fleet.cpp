#include "run/fleet.h"

#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "redfish/https.h"
#include "redfish/tls_sessions.h"
#include "run/fleet_file.h"
#include "run/fleet_run.h"
#include "run/fleet_settings.h"
#include "support/console.h"
#include "support/failure.h"
#include "support/log.h"
#include "support/program.h"
#include "zabbix/shared_sender.h"

namespace run {
namespace {

using Clock = std::chrono::steady_clock;
using Sessions = std::shared_ptr<redfish::https::TlsSessions>;

// A run that starts later than this after its slot counts as late.
constexpr auto kLate = std::chrono::seconds(5);
constexpr auto kLogEvery = std::chrono::minutes(1);

void log(const std::string& text) { support::log_line("bmc-probe: fleet: " + text); }

struct Entry {
    FleetBmc bmc;
    Sessions sessions;
    Clock::time_point next{};  // its next slot, as held in Fleet::slots
    bool running = false;
    bool removed = false;  // gone from the file while its run goes on
};

struct Job {
    FleetBmc bmc;
    Sessions sessions;
    Clock::time_point slot;
};

struct Fleet {
    std::string path;
    FleetSettings settings{};
    std::chrono::milliseconds run_limit{};
    Clock::time_point began = Clock::now();
    std::mutex lock;
    std::condition_variable work;
    std::map<std::string, Entry> entries;
    std::set<std::pair<Clock::time_point, std::string>> slots;
    std::deque<Job> due;
    std::size_t idle = 0;
    bool stopping = false;
    std::uint64_t late = 0;  // runs started late since the last line about it
    Clock::time_point late_logged{};
    std::vector<std::thread> workers{};
    zabbix::SharedSender sender{};
    // Read by every run's guard; written once, by the main thread, at the stop.
    volatile std::sig_atomic_t stop_signal = 0;
};

// FNV-1a: the same slot for the same name in every process.
std::uint64_t name_hash(const std::string& name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// The first slot of zabbix_host at or after now.
Clock::time_point next_slot(const Fleet& fleet, const std::string& zabbix_host, Clock::time_point now) {
    const auto interval = std::chrono::duration_cast<Clock::duration>(fleet.settings.interval);
    const auto offset = Clock::duration(static_cast<Clock::rep>(name_hash(zabbix_host) %
                                                                static_cast<std::uint64_t>(interval.count())));
    const auto first = fleet.began + offset;
    if (now <= first) return first;
    return first + ((now - first + interval - Clock::duration(1)) / interval) * interval;
}

// Under the lock.
void schedule(Fleet& fleet, const std::string& zabbix_host, Entry& entry, Clock::time_point at) {
    entry.next = at;
    fleet.slots.emplace(at, zabbix_host);
}

void add_entry(Fleet& fleet, const FleetBmc& bmc, Clock::time_point now) {
    Entry& entry = fleet.entries[bmc.zabbix_host] = Entry{bmc, redfish::https::tls_sessions()};
    schedule(fleet, bmc.zabbix_host, entry, next_slot(fleet, bmc.zabbix_host, now));
}

void note_late(Fleet& fleet, const Job& job, Clock::time_point started) {
    if (started - job.slot <= kLate) return;
    ++fleet.late;
    if (fleet.late_logged != Clock::time_point{} && started - fleet.late_logged < kLogEvery) return;
    log(std::to_string(fleet.late) + " runs started more than 5 seconds after their slot: every run allowed (" +
        std::to_string(fleet.settings.max_runs) + ", BMC_PROBE_FLEET_RUNS) was busy, or the machine was");
    fleet.late = 0;
    fleet.late_logged = started;
}

// Under the lock, after a run: the BMC may run again, or leaves when it was removed.
void finish_run(Fleet& fleet, const std::string& zabbix_host) {
    const auto found = fleet.entries.find(zabbix_host);
    if (found == fleet.entries.end()) return;
    found->second.running = false;
    if (found->second.removed) fleet.entries.erase(found);
}

void serve_runs(Fleet& fleet) {
    std::unique_lock lock(fleet.lock);
    while (true) {
        fleet.work.wait(lock, [&] { return fleet.stopping || !fleet.due.empty(); });
        if (fleet.stopping) return;
        Job job = std::move(fleet.due.front());
        fleet.due.pop_front();
        --fleet.idle;
        note_late(fleet, job, Clock::now());
        lock.unlock();
        try {
            run_fleet_bmc(job.bmc, job.sessions->share, fleet.run_limit, &fleet.stop_signal, fleet.sender);
        } catch (const std::exception& failure) {
            log("the run for " + job.bmc.zabbix_host + " could not hand over its values: " + failure.what());
        }
        lock.lock();
        finish_run(fleet, job.bmc.zabbix_host);
        ++fleet.idle;
    }
}

// Under the lock: a thread more while runs wait for one, up to the cap.
void add_workers(Fleet& fleet) {
    while (fleet.due.size() > fleet.idle && fleet.workers.size() < fleet.settings.max_runs) {
        try {
            fleet.workers.emplace_back([&fleet] { serve_runs(fleet); });
            ++fleet.idle;
        } catch (const std::system_error& failure) {
            log("no thread for one more run (" + std::string(failure.what()) + "): " +
                std::to_string(fleet.workers.size()) + " runs at once");
            fleet.settings.max_runs = fleet.workers.size();
        }
    }
}

// Every BMC whose slot has come goes to the runs; one still running at its
// slot (a slow logout) waits for the next.
void start_due(Fleet& fleet) {
    const std::lock_guard hold(fleet.lock);
    const auto now = Clock::now();
    const auto interval = std::chrono::duration_cast<Clock::duration>(fleet.settings.interval);
    while (!fleet.slots.empty() && fleet.slots.begin()->first <= now) {
        const auto [slot, zabbix_host] = *fleet.slots.begin();
        fleet.slots.erase(fleet.slots.begin());
        Entry& entry = fleet.entries.at(zabbix_host);
        if (!entry.running) {
            entry.running = true;
            fleet.due.push_back({entry.bmc, entry.sessions, slot});
        }
        schedule(fleet, zabbix_host, entry, std::max(slot + interval, next_slot(fleet, zabbix_host, now)));
    }
    add_workers(fleet);
    fleet.work.notify_all();
}

struct Changes {
    std::size_t added = 0, removed = 0, changed = 0;
};

void reload(Fleet& fleet) {
    std::vector<FleetBmc> bmcs;
    try {
        bmcs = read_fleet_file(fleet.path);
    } catch (const support::Failure& failure) {
        log("reload refused, the list before stays: " + std::string(support::kind_name(failure.kind)) + ": " +
            failure.what());
        return;
    }
    const std::lock_guard hold(fleet.lock);
    const auto now = Clock::now();
    Changes changes;
    std::set<std::string> listed;
    for (const auto& bmc : bmcs) {
        listed.insert(bmc.zabbix_host);
        const auto found = fleet.entries.find(bmc.zabbix_host);
        if (found == fleet.entries.end()) {
            add_entry(fleet, bmc, now);
            ++changes.added;
            continue;
        }
        Entry& entry = found->second;
        if (entry.removed) {
            entry.removed = false;
            schedule(fleet, bmc.zabbix_host, entry, next_slot(fleet, bmc.zabbix_host, now));
            ++changes.added;
        } else if (!(entry.bmc == bmc)) {
            ++changes.changed;
        }
        if (!(entry.bmc == bmc)) entry = Entry{bmc, redfish::https::tls_sessions(), entry.next, entry.running, false};
    }
    for (auto it = fleet.entries.begin(); it != fleet.entries.end();) {
        if (listed.count(it->first) != 0 || it->second.removed) {
            ++it;
            continue;
        }
        ++changes.removed;
        fleet.slots.erase({it->second.next, it->first});
        if (it->second.running) {
            (it++)->second.removed = true;
        } else {
            it = fleet.entries.erase(it);
        }
    }
    log("reloaded " + fleet.path + ": " + std::to_string(bmcs.size()) + " BMCs (" + std::to_string(changes.added) +
        " added, " + std::to_string(changes.removed) + " removed, " + std::to_string(changes.changed) + " changed)");
}

// Waits for a signal until the next slot, a second at most.
int wait_signal(Fleet& fleet, const sigset_t& signals) {
    auto wait = std::chrono::nanoseconds(std::chrono::seconds(1));
    {
        const std::lock_guard hold(fleet.lock);
        if (!fleet.slots.empty()) wait = std::min(wait, fleet.slots.begin()->first - Clock::now());
    }
    wait = std::max(wait, std::chrono::nanoseconds(0));
    const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000), static_cast<long>(wait.count() % 1'000'000'000)};
    const int signal = sigtimedwait(&signals, nullptr, &timeout);
    return signal > 0 ? signal : 0;
}

void stop(Fleet& fleet, int signal) {
    std::size_t running = 0;
    {
        const std::lock_guard hold(fleet.lock);
        fleet.stop_signal = signal;
        fleet.stopping = true;
        fleet.due.clear();
        for (const auto& [name, entry] : fleet.entries) running += entry.running ? 1 : 0;
    }
    log(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": " + std::to_string(running) +
        " runs to end, each logging out");
    fleet.work.notify_all();
    for (auto& worker : fleet.workers) worker.join();
    zabbix::stop_sender(fleet.sender, std::chrono::seconds(support::LOGOUT_GRACE));
    log("stopped");
}

}  // namespace

support::RunOutcome run_fleet(const std::string& path, std::chrono::seconds runtime_limit) {
    support::silence_console();
    // Blocked in every thread, so that only the wait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    Fleet fleet;
    fleet.path = path;
    try {
        fleet.settings = fleet_settings();
        const auto bmcs = read_fleet_file(path);
        fleet.sender.server = zabbix::obtain_zabbix_server();
        fleet.sender.max_values = fleet.settings.backlog_values;
        fleet.run_limit = std::min<std::chrono::milliseconds>(fleet.settings.interval, runtime_limit);
        redfish::https::initialise();
        for (const auto& bmc : bmcs) add_entry(fleet, bmc, fleet.began);
        log("started: " + std::to_string(bmcs.size()) + " BMCs from " + path + " every " +
            std::to_string(fleet.settings.interval.count()) + " s, at most " +
            std::to_string(fleet.settings.max_runs) + " runs at once, values to Zabbix " +
            zabbix::server_text(fleet.sender.server));
    } catch (const support::Failure& failure) {
        return support::failed(failure);
    }
    zabbix::start_sender(fleet.sender);
    int signal = 0;
    while (signal != SIGTERM && signal != SIGINT) {
        start_due(fleet);
        signal = wait_signal(fleet, signals);
        if (signal == SIGHUP) reload(fleet);
    }
    stop(fleet, signal);
    return support::finished();
}

}  // namespace run
