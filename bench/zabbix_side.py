#!/usr/bin/env python3
"""The server's side of the benchmark. bench/run starts it through
scripts/test-e2e (E2E_THEN), on that test's real Zabbix server and private
PostgreSQL, and it measures:

- the CPU that zabbix_server and PostgreSQL (every process of theirs, from
  /proc/PID/task/*/schedstat, in nanoseconds) spend per run of the probe, next
  to the very same values sent as one request, and as one request per value
  (as the probe sent them before), and as one request without the three
  discovery documents (what storing the values alone costs), on the realistic
  and the large machine, and with PSK next to zabbix_sender sending the same
  values (250 per request). The readings change from one run to the next, as
  on a real BMC: each machine is served by VARIANTS simulated BMCs whose
  readings differ, the runs taking them in turn, and every client sends the
  values of the variant its run stands for;
  the clients take turns in blocks of paced runs, each block followed by a
  pause in which the server finishes its work, and the server's CPU in idle
  blocks of the same length is taken off. The runs are paced, one client's
  runs as far apart as another's, as runs for many BMCs are: a value that
  arrives while Zabbix's low-level discovery is still busy with the previous
  document of the same rule replaces it unprocessed, so runs in a tight loop
  would make a fast client look cheaper than it is;
- the connections to Zabbix per probe run, plain and with PSK, through a relay
  that counts them and shows Zabbix's reply to each plain request.

It writes bench/results-server.md."""
import datetime
import json
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import driver  # noqa: E402  the probe side: binaries, scenarios, child servers
import zbx_e2e  # noqa: E402  the end-to-end test's API client and relay

ZBX_PORT = int(os.environ["E2E_ZBX_PORT"])
ZBX_CONF = os.environ["E2E_ZBX_CONF"]
SERVER_PIDS = [int(p) for p in os.environ["E2E_SERVER_PIDS"].split()]
STATE = os.environ["E2E_STATE"]
HELPER = os.path.join(ROOT, "scripts", "e2e", "zbx_e2e.py")
ROUNDS = int(os.environ.get("BENCH_SERVER_ROUNDS", "5"))
RUNS_PER_BLOCK = int(os.environ.get("BENCH_SERVER_RUNS", "40"))
SETTLE = 2.0  # seconds after a block for the history syncer and LLD to finish
PACE = {"realistic": 0.06, "large": 0.12}  # seconds from the start of one run to the next
PSK_IDENTITY = "bench-psk"
VARIANTS = 4  # simulated BMCs per machine with other readings: consecutive runs never send the same ones
VALUES_ALONE = "the same values, one request, without the discovery documents"
LISTS = ("discovery_ChassiPower", "discovery_ChassiThermalFan", "discovery_ChassiThermalTemp")


def say(text):
    print("bench (server): " + text, flush=True)


# ---- the server's CPU ---------------------------------------------------------

def process_table():
    table = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open("/proc/%s/stat" % name) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                table[int(name)] = (int(fields[1]), int(fields[13]) + int(fields[14]))  # ppid, reaped children's ticks
            except (OSError, IndexError):
                pass
    return table


def server_cpu_ns():
    """CPU time so far of zabbix_server, PostgreSQL and every process under them."""
    table = process_table()
    tree, grown = set(SERVER_PIDS), True
    while grown:
        more = {pid for pid, (ppid, _) in table.items() if ppid in tree} - tree
        tree |= more
        grown = bool(more)
    total = 0
    for pid in tree:
        try:
            for task in os.listdir("/proc/%d/task" % pid):
                with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                    total += int(f.read().split()[0])
        except OSError:
            continue
        total += table.get(pid, (0, 0))[1] * (1_000_000_000 // os.sysconf("SC_CLK_TCK"))
    return total


# ---- readings that change from run to run ------------------------------------------

def variant(scenario, folder, number):
    """A copy of the scenario whose readings (power, voltages, fan speeds, temperatures) differ by NUMBER steps."""
    shutil.copytree(scenario, folder)
    shifts = {("power.json", "Voltages"): ("ReadingVolts", 0.05), ("thermal.json", "Fans"): ("Reading", 40),
              ("thermal.json", "Temperatures"): ("ReadingCelsius", 0.5), ("power.json", "PowerControl"):
              ("PowerConsumedWatts", 3)}
    for name in ("power.json", "thermal.json"):
        path = os.path.join(folder, name)
        with open(path) as f:
            document = json.load(f)
        for (file_name, member), (reading, step) in shifts.items():
            if file_name != name:
                continue
            for row in document.get(member, []):
                if isinstance(row.get(reading), (int, float)) and not isinstance(row[reading], bool):
                    row[reading] = round(row[reading] + number * step, 3)
        with open(path, "w") as f:
            json.dump(document, f, indent=2)
    return folder


class Rotation:
    """The variants of one machine, taken in turn: each call is the next run's."""

    def __init__(self, count):
        self.count, self.next = count, 0

    def __call__(self):
        number = self.next
        self.next = (self.next + 1) % self.count
        return number


# ---- Zabbix set-up --------------------------------------------------------------

def reload_cache():
    subprocess.run(["zabbix_server", "-c", ZBX_CONF, "-R", "config_cache_reload"], capture_output=True, check=True)


def provision(hosts, psk_hosts, key_hex):
    """The bench's hosts with the template, their external checks off; every other host off."""
    api = zbx_e2e.Api()
    for other in api.call("host.get", {"output": ["hostid", "host"]}):
        if other["host"] not in hosts:
            api.call("host.update", {"hostid": other["hostid"], "status": 1})
    template = api.call("template.get", {"filter": {"host": ["BMC probe OpenBMC Redfish"]}, "output": ["templateid"]})
    group = api.call("hostgroup.create", {"name": "bmc-probe bench"})["groupids"][0]
    for name in hosts:
        fields = {"host": name, "groups": [{"groupid": group}],
                  "interfaces": [{"type": 1, "main": 1, "useip": 1, "ip": "127.0.0.1", "dns": "", "port": "10050"}],
                  "templates": [{"templateid": template[0]["templateid"]}]}
        if name in psk_hosts:
            fields.update({"tls_connect": 2, "tls_accept": 2, "tls_psk_identity": PSK_IDENTITY, "tls_psk": key_hex})
        hostid = api.call("host.create", fields)["hostids"][0]
        for item in api.call("item.get", {"hostids": hostid, "search": {"key_": "bmc-probe["}, "output": ["itemid"]}):
            api.call("item.update", {"itemid": item["itemid"], "status": 1})
    reload_cache()


def psk_config(folder, key_hex, port):
    key_file = os.path.join(folder, "bench.psk")
    with open(key_file, "w") as f:
        f.write(key_hex + "\n")
    os.chmod(key_file, 0o600)
    config = os.path.join(folder, "psk-%d.conf" % port)
    with open(config, "w") as f:
        f.write("ServerActive=127.0.0.1:%d\nTLSConnect=psk\nTLSPSKIdentity=%s\nTLSPSKFile=%s\n" %
                (port, PSK_IDENTITY, key_file))
    return config


# ---- clients --------------------------------------------------------------------

def zabbix_env(port=ZBX_PORT, psk_conf=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("BMC_PROBE_")}
    if psk_conf:
        env["BMC_PROBE_ZABBIX_CONFIG"] = psk_conf
    else:
        env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:%d" % port
    return env


def run_probe(bmc, host, env):
    done = subprocess.run([driver.PROBE, "discoveryOpenBMC", host, bmc, "bench", "bench", host], env=env,
                          capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise SystemExit("bench (server): the probe failed for %s: %s" % (host, done.stderr.strip()))


def exchange(payload):
    """One request to zabbix_server on its own connection; Zabbix's info text."""
    body = json.dumps(payload, ensure_ascii=False, separators=(",", ":")).encode()
    with socket.create_connection(("127.0.0.1", ZBX_PORT), timeout=30) as s:
        s.sendall(b"ZBXD\x01" + struct.pack("<II", len(body), 0) + body)
        reply, _ = zbx_e2e.read_frame(s)
    return json.loads(reply)["info"]


def now_ns():
    return time.time_ns()


def one_request(items):
    """The values in one request, each with a fresh moment of its own, as the probe stamps them."""
    start = now_ns()
    data = [dict(item, clock=(start + i) // 1_000_000_000, ns=(start + i) % 1_000_000_000)
            for i, item in enumerate(items)]
    info = exchange({"request": "sender data", "data": data, "clock": start // 1_000_000_000,
                     "ns": start % 1_000_000_000})
    if "failed: 0;" not in info:
        raise SystemExit("bench (server): the one request was refused in part: " + info)


def request_per_value(items):
    """One request per value, without moments: the probe's way before it batched."""
    for item in items:
        exchange({"request": "sender data", "data": [{k: item[k] for k in ("host", "key", "value")}]})


def zabbix_sender(items, psk_conf):
    """zabbix_sender with the PSK configuration, from a file of the same values and fresh moments."""
    start = now_ns()
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
        for i, item in enumerate(items):
            value = item["value"].replace("\\", "\\\\").replace('"', '\\"')
            f.write('"%s" "%s" %d %d "%s"\n' % (item["host"], item["key"].replace("\\", "\\\\").replace('"', '\\"'),
                                                 (start + i) // 1_000_000_000, (start + i) % 1_000_000_000, value))
        name = f.name
    done = subprocess.run(["zabbix_sender", "-c", psk_conf, "-T", "-N", "-i", name], capture_output=True, text=True)
    os.unlink(name)
    if done.returncode != 0:
        raise SystemExit("bench (server): zabbix_sender failed: " + done.stdout + done.stderr)


class Capture:
    """A trapper that answers success and keeps every data item, to learn what one probe run sends."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.items = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            connection, _ = self.listener.accept()
            with connection:
                payload, _ = zbx_e2e.read_frame(connection)
                data = json.loads(payload)["data"]
                self.items += data
                info = "processed: %d; failed: 0; total: %d; seconds spent: 0.000001" % (len(data), len(data))
                reply = json.dumps({"response": "success", "info": info}).encode()
                connection.sendall(b"ZBXD\x01" + struct.pack("<II", len(reply), 0) + reply)


def values_of_one_run(bmc, host):
    capture = Capture()
    run_probe(bmc, host, zabbix_env(capture.port))
    items = sorted(capture.items, key=lambda item: (item["clock"], item["ns"]))
    return [{k: item[k] for k in ("host", "key", "value")} for item in items]


# ---- the relay: connections and replies -----------------------------------------

class Relay:
    def __init__(self, folder):
        self.log = os.path.join(folder, "relay.jsonl")
        port_file = os.path.join(folder, "relay-port")
        if os.path.exists(port_file):
            os.unlink(port_file)
        self.process = subprocess.Popen([sys.executable, HELPER, "relay", port_file, str(ZBX_PORT), self.log],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not os.path.exists(port_file):
            if time.time() > deadline:
                raise SystemExit("bench (server): the relay did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())

    def seen(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
        os.unlink(self.log)
        return lines

    def stop(self):
        self.process.terminate()
        self.process.wait()


def warm_up(bmc, host, relay, expected_values, psk_conf=None):
    """Runs until Zabbix has created the per-row items and takes every value."""
    deadline = time.time() + 90
    while True:
        if psk_conf:
            run_probe(bmc, host, zabbix_env(psk_conf=psk_conf))
            items = zbx_e2e.items_of(host)
            if sum(1 for i in items.values() if i["flags"] == 4) + 23 >= expected_values:
                reload_cache()
                time.sleep(1)
                return
        else:
            relay.seen()
            run_probe(bmc, host, zabbix_env(relay.port))
            if all("failed: 0;" in (s.get("reply") or "") for s in relay.seen()):
                return
        if time.time() > deadline:
            raise SystemExit("bench (server): %s never took every value" % host)
        reload_cache()
        time.sleep(1)


def connections_per_run(bmc, host, relay, runs, psk_folder=None, key_hex=None):
    relay.seen()
    env = zabbix_env(psk_conf=psk_config(psk_folder, key_hex, relay.port)) if psk_folder else zabbix_env(relay.port)
    for _ in range(runs):
        run_probe(bmc, host, env)
    seen = relay.seen()
    return len(seen) / runs, [s for s in seen if "reply" in s][:8]


# ---- measuring ------------------------------------------------------------------

def block(action, runs, pace):
    """Server CPU (ns) and wall time (s) of a block of paced runs and the pause after it."""
    cpu, start = server_cpu_ns(), time.perf_counter()
    for i in range(runs):
        action()
        delay = start + (i + 1) * pace - time.perf_counter()
        if delay > 0:
            time.sleep(delay)
    time.sleep(SETTLE)
    return server_cpu_ns() - cpu, time.perf_counter() - start


def measure(clients, pace):
    """Server CPU ms per run of each client ({name: (action, runs per block)}), the idle load of the
    same time taken off."""
    samples = {name: [] for name in clients}
    idle_rates = []
    names = list(clients)
    for round_number in range(ROUNDS):
        order = names[round_number % len(names):] + names[:round_number % len(names)]
        for name in order:
            action, runs = clients[name]
            samples[name].append(block(action, runs, pace))
        cpu, wall = block(lambda: None, RUNS_PER_BLOCK, pace)
        idle_rates.append(cpu / wall)
    idle = statistics.median(idle_rates)
    result = {name: statistics.median((cpu - idle * wall) / clients[name][1] / 1e6 for cpu, wall in blocks)
              for name, blocks in samples.items()}
    return result, idle / 1e6


# ---- the whole side ---------------------------------------------------------------

def main():
    load_before = driver.load_average()
    key_hex = os.urandom(32).hex()
    folder = tempfile.mkdtemp(prefix="bench-server-", dir=STATE)
    machines = {"realistic": driver.HEALTHY, "large": driver.large_scenario(os.path.join(folder, "large"))}
    hosts = {machine: "bench-" + machine for machine in machines}
    psk_hosts = {machine: "bench-psk-" + machine for machine in machines}
    say("hosts %s" % ", ".join(list(hosts.values()) + list(psk_hosts.values())))
    provision(list(hosts.values()) + list(psk_hosts.values()), list(psk_hosts.values()), key_hex)
    psk_conf = psk_config(folder, key_hex, ZBX_PORT)
    relay = Relay(folder)
    rows, replies, idle_rates = [], {}, {}
    try:
        for machine, scenario in machines.items():
            sims = [driver.Server([driver.SIM, "--port", "0", "--scenario",
                                   variant(scenario, os.path.join(folder, "%s-%d" % (machine, n)), n)])
                    for n in range(VARIANTS)]
            bmcs = ["127.0.0.1:%d" % sim.port for sim in sims]
            host, psk_host = hosts[machine], psk_hosts[machine]
            runs = [values_of_one_run(bmc, host) for bmc in bmcs]
            if len({json.dumps(r) for r in runs}) != VARIANTS or len({len(r) for r in runs}) != 1:
                raise SystemExit("bench (server): the %s variants do not all send other values" % machine)
            items = runs[0]
            psk_runs = [[dict(item, host=psk_host) for item in r] for r in runs]
            alone = [[item for item in r if item["key"] not in LISTS] for r in runs]
            if len(alone[0]) != len(items) - len(LISTS):
                raise SystemExit("bench (server): a %s run does not send the three discovery documents" % machine)
            say("%s: %d values per run, readings of %d variants in turn; warming up until Zabbix takes every "
                "value" % (machine, len(items), VARIANTS))
            warm_up(bmcs[0], host, relay, len(items))
            warm_up(bmcs[0], psk_host, relay, len(items), psk_conf)
            plain_connections, replies[machine] = connections_per_run(bmcs[0], host, relay, 5)
            psk_connections, _ = connections_per_run(bmcs[0], psk_host, relay, 5, folder, key_hex)
            few = max(2, RUNS_PER_BLOCK // 4)  # hundreds of connections a run: fewer runs per block
            turn = {name: Rotation(VARIANTS) for name in ("probe", "one", "alone", "per value", "psk", "sender")}
            clients = {
                "bmc-probe": (lambda: run_probe(bmcs[turn["probe"]()], host, zabbix_env()), RUNS_PER_BLOCK),
                "the same values, one request": (lambda: one_request(runs[turn["one"]()]), RUNS_PER_BLOCK),
                VALUES_ALONE: (lambda: one_request(alone[turn["alone"]()]), RUNS_PER_BLOCK),
                "the same values, one request per value": (lambda: request_per_value(runs[turn["per value"]()]),
                                                           few),
                "bmc-probe, PSK": (lambda: run_probe(bmcs[turn["psk"]()], psk_host, zabbix_env(psk_conf=psk_conf)),
                                   RUNS_PER_BLOCK),
                "zabbix_sender, PSK (250 values per request)": (
                    lambda: zabbix_sender(psk_runs[turn["sender"]()], psk_conf), RUNS_PER_BLOCK),
            }
            say("%s: %d rounds of %d runs per client" % (machine, ROUNDS, RUNS_PER_BLOCK))
            cpu, idle_rates[machine] = measure(clients, PACE[machine])
            base, values_alone = cpu["the same values, one request"], cpu[VALUES_ALONE]
            batches = -(-len(items) // 250)
            plan = {"bmc-probe": plain_connections, "the same values, one request": 1, VALUES_ALONE: 1,
                    "the same values, one request per value": len(items), "bmc-probe, PSK": psk_connections,
                    "zabbix_sender, PSK (250 values per request)": batches}
            for name, ms in cpu.items():
                rows.append((machine, name, plan[name], ms, ms / base, ms / values_alone))
            for sim in sims:
                sim.stop()
    finally:
        relay.stop()
        shutil.rmtree(folder, ignore_errors=True)
    write_results(rows, replies, idle_rates, load_before, driver.load_average())


def write_results(rows, replies, idle_rates, load_before, load_after):
    lines = [
        "Machine: %d cores, %s; %s; load average %s before, %s after; Zabbix %s with PostgreSQL on the same "
        "machine; median of %d blocks of %d paced runs per client, idle load taken off; readings that change "
        "from every run to the next (%d simulated BMCs per machine in turn)." %
        (os.cpu_count(), driver.cpu_model(), datetime.date.today().isoformat(), load_before, load_after,
         zabbix_version(), ROUNDS, RUNS_PER_BLOCK, VARIANTS),
        "",
        "| BMC | client | Zabbix connections/run | server CPU ms/run | / one request | / values alone |",
        "|---|---|---:|---:|---:|---:|",
    ]
    for machine, name, connections, ms, ratio, alone in rows:
        lines.append("| %s | %s | %.0f | %.2f | %.2f | %.2f |" % (machine, name, connections, ms, ratio, alone))
    lines.append("")
    lines.append("- / values alone: the server's CPU per run against that of the same run's values sent in one "
                 "request without the three discovery documents")
    for machine, rate in idle_rates.items():
        lines.append("- %s: idle load taken off, %.1f ms of CPU per second" % (machine, rate))
    for machine, seen in replies.items():
        for s in seen[:6]:
            lines.append("- %s, a probe request of %d values (%s ... %s): Zabbix answered \"%s\"" %
                         (machine, s["values"], "".join(s["first"]), "".join(s["last"]), s["reply"]))
    text = "\n".join(lines) + "\n"
    with open(os.path.join(ROOT, "bench", "results-server.md"), "w") as f:
        f.write(text)
    sys.stdout.write(text)


def zabbix_version():
    done = subprocess.run(["zabbix_server", "-V"], capture_output=True, text=True)
    first = done.stdout.splitlines()[0] if done.stdout else "zabbix_server"
    return first.split()[-1]


if __name__ == "__main__":
    main()
