#!/usr/bin/env python3
"""Benchmark driver, started by bench/run: times bmc-probe and the floor client
against bmc-sim and bench-trapper on loopback and writes bench/results.md."""
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
PROBE = os.path.join(BUILD, "bmc-probe")
SIM = os.path.join(BUILD, "bmc-sim")
TRAPPER = os.path.join(BUILD, "bench", "bench-trapper")
FLOOR = os.path.join(BUILD, "bench", "bench-floor")
MEASURE = os.path.join(BUILD, "bench", "bench-measure")
HEALTHY = os.path.join(ROOT, "tests", "testdata", "a_healthy")
RUNS = int(os.environ.get("BENCH_RUNS", "21"))
BATCH = int(os.environ.get("BENCH_BATCH", "500"))
PARALLEL = 2
# Copies of each list in the large machine: 16*5 + 8*5 + 18*4.5 = 200 rows.
LARGE_ROWS = {"Voltages": 80, "Fans": 40, "Temperatures": 80}


def large_scenario(folder):
    shutil.copytree(HEALTHY, folder)
    for name, lists in (("power.json", ["Voltages"]), ("thermal.json", ["Fans", "Temperatures"])):
        path = os.path.join(folder, name)
        with open(path) as f:
            document = json.load(f)
        for member in lists:
            originals = document[member]
            grown = []
            for i in range(LARGE_ROWS[member]):
                row = json.loads(json.dumps(originals[i % len(originals)]))
                copy = i // len(originals)
                if copy:
                    row["Name"] = f"{row['Name']} {copy}"
                    row["MemberId"] = f"{row['MemberId']}_{copy}"
                row["@odata.id"] = row["@odata.id"].rsplit("/", 1)[0] + f"/{i}"
                grown.append(row)
            document[member] = grown
        with open(path, "w") as f:
            json.dump(document, f, indent=2)
    return folder


class Server:
    """A child that prints "listening 127.0.0.1:PORT" first and its counts on SIGTERM."""

    def __init__(self, argv):
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening 127.0.0.1:"):
            raise SystemExit(f"bench: {argv[0]} did not start")
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self):
        """The counts it printed ("name number ..."), and its plan line as "plan" when it prints one."""
        self.process.terminate()
        counts = {}
        for line in self.process.stdout.read().splitlines():
            words = line.split()
            if words[:1] == ["plan"]:
                counts["plan"] = words[1]
            else:
                counts.update({words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2)})
        self.process.wait()
        return counts


def spawn(argv, env):
    devnull = os.open(os.devnull, os.O_WRONLY)
    actions = [(os.POSIX_SPAWN_DUP2, devnull, 1)]
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    os.close(devnull)
    return pid


def timed_run(argv, env):
    """Wall seconds, CPU seconds and peak RSS in KiB of one run."""
    output = subprocess.run([MEASURE, *argv], env=env, check=True, capture_output=True, text=True).stdout
    wall_us, cpu_us, rss_kb, status = (int(word) for word in output.split())
    if status != 0:
        raise SystemExit(f"bench: {' '.join(argv)} failed with status {status}")
    return wall_us / 1e6, cpu_us / 1e6, rss_kb


def batch(argv, env, count):
    """count runs, PARALLEL at a time; runs per second."""
    start = time.perf_counter()
    running = started = 0
    while started < count or running:
        while running < PARALLEL and started < count:
            spawn(argv, env)
            started += 1
            running += 1
        _, status, _ = os.wait4(-1, 0)
        running -= 1
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit(f"bench: {' '.join(argv)} failed in the batch")
    return count / (time.perf_counter() - start)


class Client:
    """One client with a BMC and a trapper of its own, so that the counts are its own."""

    def __init__(self, scenario, kind, plan="-"):
        self.sim = Server([SIM, "--port", "0", "--scenario", scenario])
        self.trapper = Server([TRAPPER])
        self.env = dict(os.environ, BMC_PROBE_ZABBIX_SERVER=f"127.0.0.1:{self.trapper.port}")
        bmc = f"127.0.0.1:{self.sim.port}"
        if kind == "probe":
            self.argv = [PROBE, "discoveryOpenBMC", "bench-bmc", bmc, "bench", "bench", "bench-host"]
        else:
            self.argv = [FLOOR, bmc, str(self.trapper.port), plan]
        self.runs = 0
        self.samples = []

    def run(self, keep=True):
        sample = timed_run(self.argv, self.env)
        self.runs += 1
        if keep:
            self.samples.append(sample)

    def stop(self):
        at_sim, at_trapper = self.sim.stop(), self.trapper.stop()
        return at_sim, at_trapper


def plan_of_probe_run(scenario):
    """The sender requests of one probe run, as "values:bytes,...", for the floor to repeat."""
    client = Client(scenario, "probe")
    client.run()
    return client.stop()[1]["plan"]


def measure_machine(scenario):
    """The probe and the floor, their runs interleaved so that both meet the same load."""
    plan = plan_of_probe_run(scenario)
    clients = {
        "bmc-probe": Client(scenario, "probe"),
        "floor": Client(scenario, "floor", plan),
        "floor, HTTPS only": Client(scenario, "floor"),
    }
    for client in clients.values():
        client.run(keep=False)  # warm-up: page cache, the BMC's first connection
    for _ in range(RUNS):
        for client in clients.values():
            client.run()
    results = {}
    for name, client in clients.items():
        at_sim, at_trapper = client.stop()
        samples = client.samples
        results[name] = {
            "wall_ms": statistics.median(s[0] for s in samples) * 1000,
            "cpu_ms": statistics.median(s[1] for s in samples) * 1000,
            "rss_mb": statistics.median(s[2] for s in samples) / 1024,
            "tls_per_run": at_sim["tls-connections"] / client.runs,
            "https_requests_per_run": at_sim["requests"] / client.runs,
            "zabbix_conns_per_run": at_trapper["connections"] / client.runs,
            "values_per_run": at_trapper["values"] / client.runs,
        }
    if BATCH:
        for name, kind in (("bmc-probe", "probe"), ("floor", "floor"), ("floor, HTTPS only", "floor")):
            client = Client(scenario, kind, plan if name == "floor" else "-")
            results[name]["runs_per_s"] = batch(client.argv, client.env, BATCH)
            client.stop()
    return results


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown CPU"


def table(results, load_before, load_after):
    lines = [
        f"Machine: {os.cpu_count()} cores, {cpu_model()}; {datetime.date.today().isoformat()}; "
        f"load average {load_before} before, {load_after} after; median of {RUNS} interleaved runs, "
        f"throughput from {BATCH} runs at {PARALLEL} in parallel.",
        "",
        "| BMC | client | wall ms | CPU ms (user+sys) | peak RSS MB | TLS handshakes/run | HTTPS requests/run "
        "| Zabbix connections/run | values/run | runs/s (2 parallel) |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for (machine, client), r in results.items():
        rate = f"{r['runs_per_s']:.1f}" if "runs_per_s" in r else "-"
        lines.append(
            f"| {machine} | {client} | {r['wall_ms']:.1f} | {r['cpu_ms']:.1f} | {r['rss_mb']:.1f} "
            f"| {r['tls_per_run']:.0f} | {r['https_requests_per_run']:.0f} | {r['zabbix_conns_per_run']:.0f} "
            f"| {r['values_per_run']:.0f} | {rate} |"
        )
    lines.append("")
    for machine in ("realistic", "large"):
        probe, floor = results[(machine, "bmc-probe")], results[(machine, "floor")]
        lines.append(
            f"- {machine}: probe / floor = {probe['wall_ms'] / floor['wall_ms']:.2f} wall, "
            f"{probe['cpu_ms'] / floor['cpu_ms']:.2f} CPU, {probe['rss_mb'] / floor['rss_mb']:.2f} RSS, "
            f"{floor['runs_per_s'] / probe['runs_per_s']:.2f} throughput"
            if BATCH else f"- {machine}: probe / floor = {probe['wall_ms'] / floor['wall_ms']:.2f} wall"
        )
    return "\n".join(lines) + "\n"


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def main():
    load_before = load_average()
    with tempfile.TemporaryDirectory(prefix="bmc-bench-") as temp:
        machines = {"realistic": HEALTHY, "large": large_scenario(os.path.join(temp, "large"))}
        results = {}
        for machine, scenario in machines.items():
            for client, result in measure_machine(scenario).items():
                results[(machine, client)] = result
    text = table(results, load_before, load_average())
    with open(os.path.join(ROOT, "bench", "results.md"), "w") as f:
        f.write(text)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
