#!/usr/bin/env python3
"""Fleet benchmark, started by bench/fleet: bmc-probe's fleet mode against
one-shot runs on simulated BMCs (bmc-sim --ports), then the largest fleet this
machine keeps on time; writes bench/results-fleet.md.

Part 1, side by side against the same BMCs and delay: the CPU (user+sys) per
BMC-run of one-shot runs, K kept in flight as Zabbix's pollers would start
them, and of one fleet process polling every BMC each interval.

Part 2, for each size: a fleet at a one-minute interval for a warm-up interval
and a measured window. A run is on time when it starts within 5 s of its slot
and ends (its logout) inside the interval. The slots are those the simulator
sees: each BMC's logins should lie on one grid of the interval, so a BMC's
slot phase is its earliest login less whole intervals, and a run's lateness is
its login less its slot. Every run started in the window must have delivered
all its values to the trapper by the end of its interval (the trapper counts
values per host).
"""
import collections
import datetime
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time

from driver import load_average

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
PROBE = os.path.join(BUILD, "bmc-probe")
SIM = os.path.join(BUILD, "bmc-sim")
TRAPPER = os.path.join(BUILD, "bench", "bench-trapper")
DELAY_MS = int(os.environ.get("BENCH_FLEET_DELAY_MS", "100"))
FIRST_PORT = int(os.environ.get("BENCH_FLEET_FIRST_PORT", "20000"))
SIDE_BMCS = int(os.environ.get("BENCH_FLEET_SIDE_BMCS", "200"))
SIDE_INTERVAL = int(os.environ.get("BENCH_FLEET_SIDE_INTERVAL", "5"))
SIDE_WINDOWS = int(os.environ.get("BENCH_FLEET_SIDE_WINDOWS", "3"))
ONESHOT_RUNS = int(os.environ.get("BENCH_FLEET_ONESHOT_RUNS", "600"))
IN_FLIGHT = int(os.environ.get("BENCH_FLEET_IN_FLIGHT", "40"))
SIZES = [int(n) for n in os.environ.get("BENCH_FLEET_SIZES", "1000 2500 5000 10000").split()]
INTERVAL = int(os.environ.get("BENCH_FLEET_INTERVAL", "60"))
WINDOWS = int(os.environ.get("BENCH_FLEET_WINDOWS", "2"))
LATE_S = 5.0
MODE = "discoveryOpenBMC"
TICK = os.sysconf("SC_CLK_TCK")


class Child:
    """A child that prints "listening 127.0.0.1:..." first and its counts on SIGTERM."""

    def __init__(self, argv, wait_s=120):
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening 127.0.0.1:"):
            self.process.kill()
            raise SystemExit(f"bench: {argv[0]} did not start: {self.process.stderr.read().strip()}")
        self.address = line.split()[1]

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        out, _ = self.process.communicate(timeout=600)
        counts = {}
        for line in out.splitlines():
            words = line.split()
            if words[:1] != ["plan"]:
                counts.update({words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2)})
        return counts


class Sims:
    """The simulated fleet: PER_SIM BMCs a process at most, since each port takes about two of the
    process's files and the hard limit of open files is often 20,000; all append to one run log."""

    PER_SIM = 5000

    def __init__(self, bmcs, run_log):
        self.children = []
        for first in range(FIRST_PORT, FIRST_PORT + bmcs, self.PER_SIM):
            last = min(first + self.PER_SIM, FIRST_PORT + bmcs) - 1
            threads = min(4096, max(256, (last - first + 1) // 2))
            try:
                self.children.append(Child([SIM, "--ports", f"{first}-{last}", "--delay-ms", str(DELAY_MS),
                                            "--run-log", run_log, "--threads", str(threads)]))
            except SystemExit:
                self.stop()  # a simulator left behind would serve the next run's ports
                raise

    def stop(self):
        total = collections.Counter()
        for child in self.children:
            total.update(child.stop())
        return total


def start_sim(bmcs, run_log):
    return Sims(bmcs, run_log)


def bmc_address(index):
    return f"127.0.0.1:{FIRST_PORT + index}"


def host_name(index):
    return f"bench-bmc-{index:05d}"


def process_cpu_s(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def process_peak_rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def machine_busy():
    """(busy, total) jiffies of the whole machine."""
    with open("/proc/stat") as f:
        values = [int(v) for v in f.readline().split()[1:]]
    idle = values[3] + values[4]
    return sum(values) - idle, sum(values)


def read_run_log(path):
    """Per port, the logins and the logouts in seconds."""
    logins, logouts = collections.defaultdict(list), collections.defaultdict(list)
    with open(path) as f:
        for line in f:
            if not line.endswith("\n"):
                break  # still being written
            ms, port, event = line.split()
            (logins if event == "login" else logouts)[int(port)].append(int(ms) / 1000)
    return logins, logouts


def oneshot_cpu(trapper_address):
    """CPU seconds per run of one-shot runs, IN_FLIGHT at a time, round robin over the BMCs."""
    env = dict(os.environ, BMC_PROBE_ZABBIX_SERVER=trapper_address)
    devnull = os.open(os.devnull, os.O_WRONLY)
    cpu = peak = 0.0
    running = started = failed = 0
    begin = time.monotonic()
    while started < ONESHOT_RUNS or running:
        while running < IN_FLIGHT and started < ONESHOT_RUNS:
            i = started % SIDE_BMCS
            argv = [PROBE, MODE, "bench", bmc_address(i), "bench", "bench", host_name(i)]
            os.posix_spawn(PROBE, argv, env, file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
            started += 1
            running += 1
        _, status, usage = os.wait4(-1, 0)
        running -= 1
        failed += os.waitstatus_to_exitcode(status) != 0
        cpu += usage.ru_utime + usage.ru_stime
        peak = max(peak, usage.ru_maxrss / 1024)
    os.close(devnull)
    if failed:
        raise SystemExit(f"bench: {failed} one-shot runs failed")
    return {"cpu_ms": cpu / ONESHOT_RUNS * 1000, "rss_mb": peak, "runs": ONESHOT_RUNS,
            "runs_per_s": ONESHOT_RUNS / (time.monotonic() - begin)}


def write_fleet_file(path, bmcs):
    with open(path, "w") as f:
        for i in range(bmcs):
            f.write(f"{host_name(i)} {MODE} {bmc_address(i)} bench bench\n")


def start_fleet(path, bmcs, interval, trapper_address, log):
    env = dict(os.environ, BMC_PROBE_ZABBIX_SERVER=trapper_address, BMC_PROBE_FLEET_INTERVAL=str(interval))
    write_fleet_file(path, bmcs)
    return subprocess.Popen([PROBE, "fleet", path], env=env, stdout=log, stderr=subprocess.STDOUT)


def stop_fleet(fleet):
    fleet.send_signal(signal.SIGTERM)
    fleet.wait(timeout=120)


def measure_fleet(bmcs, interval, windows, temp, trapper_address, run_log):
    """Runs a fleet for a warm-up interval and `windows` measured ones, then one more for the last runs to end."""
    with open(os.path.join(temp, f"fleet-{bmcs}.log"), "w") as log:
        fleet = start_fleet(os.path.join(temp, f"fleet-{bmcs}.list"), bmcs, interval, trapper_address, log)
        try:
            time.sleep(interval)
            start, cpu_before, busy_before = time.time(), process_cpu_s(fleet.pid), machine_busy()
            time.sleep(interval * windows)
            end, cpu_after, busy_after = time.time(), process_cpu_s(fleet.pid), machine_busy()
            rss = process_peak_rss_mb(fleet.pid)
            time.sleep(interval)
            if fleet.poll() is not None:
                raise SystemExit(f"bench: the fleet of {bmcs} ended early (see {log.name})")
        finally:
            stop_fleet(fleet)
    logins, _ = read_run_log(run_log)
    runs = sum(1 for times in logins.values() for t in times if start <= t < end)
    busy = (busy_after[0] - busy_before[0]) / max(1, busy_after[1] - busy_before[1])
    return {"start": start, "end": end, "runs": runs, "cpu_s": cpu_after - cpu_before,
            "cpu_ms": (cpu_after - cpu_before) / max(1, runs) * 1000, "rss_mb": rss,
            "fleet_cores": (cpu_after - cpu_before) / (end - start), "machine_busy": busy,
            "runs_per_s": runs / (end - start)}


def timeliness(logins, logouts, interval, start, end):
    """How the runs that started in [start, end) kept their slots (see the module's comment)."""
    found = {"runs": 0, "late": 0, "max_late_s": 0.0, "overran": 0, "max_end_s": 0.0, "missed": 0}
    for port, times in logins.items():
        times = sorted(times)
        slots = [round((t - times[0]) / interval) for t in times]
        phase = min(t - k * interval for t, k in zip(times, slots))
        outs = sorted(logouts.get(port, []))
        for j, (t, k) in enumerate(zip(times, slots)):
            if not start <= t < end:
                continue
            found["runs"] += 1
            late = t - phase - k * interval
            found["max_late_s"] = max(found["max_late_s"], late)
            found["late"] += late > LATE_S
            following = times[j + 1] if j + 1 < len(times) else float("inf")
            ended = next((o for o in outs if t < o < following), None)
            end_offset = (ended - phase - k * interval) if ended is not None else float("inf")
            found["max_end_s"] = max(found["max_end_s"], end_offset)
            found["overran"] += end_offset > interval
        wanted = {k for k in range(slots[-1] + 2) if start <= phase + k * interval < end}
        found["missed"] += len(wanted - set(slots))
    return found


def delivery(hosts_log, logins, values_per_run, until):
    """BMCs that delivered fewer values or fewer runs "OK" than runs they started before `until` less an interval."""
    values, ok = collections.Counter(), collections.Counter()
    with open(hosts_log) as f:
        for line in f:
            ms, host, count, runs_ok = line.split()
            if int(ms) / 1000 <= until:
                values[host] += int(count)
                ok[host] += int(runs_ok)
    short = 0
    for port, times in logins.items():
        host = host_name(port - FIRST_PORT)
        started = sum(1 for t in times if t < until - INTERVAL)
        short += values[host] < started * values_per_run or ok[host] < started
    return short, sum(values.values())


def side_by_side(temp):
    run_log, hosts_log = os.path.join(temp, "side-runs.log"), os.path.join(temp, "side-hosts.log")
    sim = start_sim(SIDE_BMCS, run_log)
    trapper = Child([TRAPPER, hosts_log])
    try:
        oneshot = oneshot_cpu(trapper.address)
        oneshot_values = trapper.stop()["values"] / ONESHOT_RUNS
        trapper = Child([TRAPPER, hosts_log])
        fleet = measure_fleet(SIDE_BMCS, SIDE_INTERVAL, SIDE_WINDOWS, temp, trapper.address, run_log)
    finally:
        trapper.stop()
        at_sim = sim.stop()
    return oneshot, fleet, oneshot_values, at_sim


def largest(temp, values_per_run):
    results = []
    for bmcs in SIZES:
        run_log, hosts_log = os.path.join(temp, f"runs-{bmcs}.log"), os.path.join(temp, f"hosts-{bmcs}.log")
        sim = start_sim(bmcs, run_log)
        trapper = Child([TRAPPER, hosts_log])
        try:
            measured = measure_fleet(bmcs, INTERVAL, WINDOWS, temp, trapper.address, run_log)
        finally:
            trapper.stop()
            at_sim = sim.stop()
        logins, logouts = read_run_log(run_log)
        measured.update(timeliness(logins, logouts, INTERVAL, measured["start"], measured["end"]))
        measured["short"], _ = delivery(hosts_log, logins, values_per_run, measured["end"] + INTERVAL)
        measured["open_sessions"] = at_sim.get("open-sessions", -1)
        measured["on_time"] = (measured["late"] == 0 and measured["overran"] == 0 and measured["missed"] == 0
                               and measured["short"] == 0 and measured["runs"] > 0)
        measured["bmcs"] = bmcs
        results.append(measured)
        print(f"bench: {bmcs} BMCs: {'on time' if measured['on_time'] else 'NOT on time'} {measured}", flush=True)
        if not measured["on_time"]:
            break
    return results


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown CPU"


def report(oneshot, fleet, oneshot_values, sizes, load_before):
    lines = [
        f"Machine: {os.cpu_count()} cores, {cpu_model()}, {os.sysconf('SC_PHYS_PAGES') * os.sysconf('SC_PAGE_SIZE') >> 30} GiB; "
        f"{datetime.date.today().isoformat()}; load average {load_before} before, {load_average()} after; "
        f"{DELAY_MS} ms added to every BMC answer (bmc-sim --ports, processes of at most {Sims.PER_SIM:,} BMCs); mode {MODE}, "
        f"{oneshot_values:.0f} values a run.",
        "",
        f"CPU per BMC-run against the same {SIDE_BMCS} simulated BMCs:",
        "",
        "| client | runs measured | CPU ms per run (user+sys) | peak RSS MB | runs/s |",
        "|---|---:|---:|---:|---:|",
        f"| one-shot, {IN_FLIGHT} in flight | {oneshot['runs']} | {oneshot['cpu_ms']:.2f} | {oneshot['rss_mb']:.1f} "
        f"| {oneshot['runs_per_s']:.1f} |",
        f"| fleet, {SIDE_INTERVAL} s interval | {fleet['runs']} | {fleet['cpu_ms']:.2f} | {fleet['rss_mb']:.1f} "
        f"| {fleet['runs_per_s']:.1f} |",
        "",
        f"- fleet / one-shot CPU per run: {fleet['cpu_ms'] / oneshot['cpu_ms']:.2f} (the goal: at most 0.33)",
        "",
        f"Fleets at a {INTERVAL} s interval, {WINDOWS} measured intervals after one of warm-up; on time: every run "
        f"started within {LATE_S:.0f} s of its slot, ended inside the interval, no slot missed, every value "
        "delivered:",
        "",
        "| BMCs | runs | on time | latest start s | latest end s | late | overran | missed | short | fleet CPU ms/run "
        "| fleet cores | machine busy | fleet peak RSS MB |",
        "|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for r in sizes:
        lines.append(
            f"| {r['bmcs']} | {r['runs']} | {'yes' if r['on_time'] else 'no'} | {r['max_late_s']:.2f} "
            f"| {r['max_end_s']:.2f} | {r['late']} | {r['overran']} | {r['missed']} | {r['short']} "
            f"| {r['cpu_ms']:.2f} | {r['fleet_cores']:.2f} | {r['machine_busy'] * 100:.0f} % | {r['rss_mb']:.0f} |")
    kept = [r["bmcs"] for r in sizes if r["on_time"]]
    largest_kept = f"{max(kept)} BMCs" if kept else "none"
    lines += ["", f"- largest fleet kept on time: {largest_kept} (the goal: 10000)"]
    return "\n".join(lines) + "\n"


def main():
    load_before = load_average()
    with tempfile.TemporaryDirectory(prefix="bmc-bench-fleet-") as temp:
        oneshot, fleet, oneshot_values, _ = side_by_side(temp)
        print(f"bench: one-shot {oneshot}, fleet {fleet}", flush=True)
        sizes = largest(temp, oneshot_values + 1) if SIZES else []
    text = report(oneshot, fleet, oneshot_values, sizes, load_before)
    with open(os.path.join(ROOT, "bench", "results-fleet.md"), "w") as f:
        f.write(text)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
