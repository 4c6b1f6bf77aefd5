#!/usr/bin/env python3
"""Helpers of scripts/test-e2e: what bmc-probe must deliver for a scenario, the
Zabbix API calls, the stand-in sender and the checks in Zabbix's own tables.

Subcommands (all print a short line per finding; exit status 1 on a failed check):
  expected SCENARIO OUT [MODE]     items bmc-probe sends for the scenario, in order, as JSON; MODE
                                   discoveryRedfish sends fans in percent as readingPercent
  record PORTFILE LINES            a fake Zabbix that accepts every value and notes it, until killed
  expected-recorded LINES OUT      the recorded values as EXPECTED, "N/A" flags as the 2 they land as
  api-provision TEMPLATE OUT       import the template, create the test hosts, write their ids
  api-psk HOST IDENTITY KEYHEX     require PSK for HOST
  standin EXPECTED HOST            send EXPECTED like bmc-probe does, with zabbix_sender
  send-until EXPECTED HOST KEY accepted|refused SECONDS [sender args]
  check-landed EXPECTED HOST SINCE fixed|rows|all SECONDS
                                   with E2E_HELD set, at most 3 values that never showed are noted there
  check-held                       the values noted in E2E_HELD, once the server has stopped
  check-discovered EXPECTED HOST SECONDS [KEY...]   exactly the per-row items EXPECTED names, KEY among them
  check-lld-discard EXPECTED HOST SECONDS        a list with other readings only is discarded, one with a new row processed
  check-external HOST_OK HOST_FAIL HOST_SLOW SECONDS
  check-overrun RUNLOG SLOW_ADDRESS SESSIONLOG TIMEOUT SECONDS
                                   what Zabbix did to an external check run that overran TIMEOUT
  check-sessions-closed SESSIONLOG SECONDS   every BMC session opened was closed
  dashboard-facts HOST OUT         what the browser check needs to know of HOST, as JSON
  open-problem HOST KEY VALUE NAME SECONDS   send one value and wait for the problem NAME
  check-triggers EXPECTED HOST SECONDS
  check-problems-published EXPECTED HOST SECONDS
                                   problems open exactly on the flags EXPECTED holds at 0 and on the
                                   words that open one, each of its word's severity
  check-inventory EXPECTED HOST SECONDS   the host inventory holds the system's values
  listen-once PORTFILE SECONDS     one fake Zabbix connection: did a sender frame arrive?
  relay PORTFILE TARGET_PORT LOG   pass connections on to 127.0.0.1:TARGET_PORT, one JSON line per
                                   connection in LOG: the request's keys and the server's reply
  relay-report LOG MAX_CONNECTIONS the requests and replies a relay saw; fails on a refusal or more
                                   connections than MAX_CONNECTIONS
"""
import json
import math
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.request

# The 20 fixed keys in the order bmc-probe sends them, with the snapshot
# source: (key, document, path, expected word or None for a value).
FIXED_BEFORE_LISTS = [
    ("storageHealth", "storage.json", ["Status", "Health"], "OK"),
    ("storageHealthRollup", "storage.json", ["Status", "HealthRollup"], "OK"),
    ("storageState", "storage.json", ["Status", "State"], "Enabled"),
]
FIXED_AFTER_LISTS = [
    ("totalPower", "total_power.json", ["Reading"], None),
    ("totalPowerMax", "total_power.json", ["ReadingRangeMax"], None),
    ("totalPowerMin", "total_power.json", ["ReadingRangeMin"], None),
    ("totalPowerStatus", "total_power.json", ["Status", "Health"], "OK"),
    ("totalPowerState", "total_power.json", ["Status", "State"], "Enabled"),
    ("totalPowerThresholdLowerCritical", "total_power.json", ["Thresholds", "LowerCritical", "Reading"], None),
    ("totalPowerThresholdUpperCritical", "total_power.json", ["Thresholds", "UpperCritical", "Reading"], None),
    ("peakPower", "peak_power.json", ["Reading"], None),
    ("peakPowerThresholdLowerCaution", "peak_power.json", ["Thresholds", "LowerCaution", "Reading"], None),
    ("peakPowerThresholdUpperCaution", "peak_power.json", ["Thresholds", "UpperCaution", "Reading"], None),
    ("peakPowerThresholdLowerCritical", "peak_power.json", ["Thresholds", "LowerCritical", "Reading"], None),
    ("peakPowerThresholdUpperCritical", "peak_power.json", ["Thresholds", "UpperCritical", "Reading"], None),
    ("peakPowerStatus", "peak_power.json", ["Status", "Health"], "OK"),
    ("peakPowerState", "peak_power.json", ["Status", "State"], "Enabled"),
]
# (discovery key, document, array, macro prefix, reading member, rounded, key prefixes)
LISTS = [
    ("discovery_ChassiPower", "power.json", "Voltages", "VOLTAGE", "READING_VOLTS", "ReadingVolts", True,
     ("readingVolts", "voltageHealth", "voltageState")),
    ("discovery_ChassiThermalFan", "thermal.json", "Fans", "FAN", "READING_RPM", "Reading", False,
     ("readingRPM", "fanHealth", "fanState")),
    ("discovery_ChassiThermalTemp", "thermal.json", "Temperatures", "TEMP", "READING_CELSIUS", "ReadingCelsius", True,
     ("readingCelsius", "tempHealth", "tempState")),
]
# Same pattern as the template's preprocessing step of every reading item.
NUMERIC = re.compile(r"^[-+]?([0-9]+([.][0-9]*)?|[.][0-9]+)([eE][-+]?[0-9]+)?$")
ABSENT = "N/A"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


# ---- what the probe sends -------------------------------------------------

def member(value, name, default):
    if not isinstance(value, dict):
        raise ValueError("not an object on the way to " + name)
    return value.get(name, default)


def path_value(document, path):
    value = document
    for step in path[:-1]:
        value = member(value, step, {})
    return member(value, path[-1], ABSENT)


def flag(value, word):
    return 1 if isinstance(value, str) and value == word else 0


def rounded(value):
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int) or (isinstance(value, str) and value == ABSENT):
        return value
    if isinstance(value, float):
        return round(value, 2)  # correctly rounded from the exact double, ties to even
    raise ValueError("reading that is not a number")


def document_text(value):
    # ", " and ": " separators, insertion order, every non-ASCII character \u-escaped.
    return json.dumps(value, ensure_ascii=True, allow_nan=True).replace("\x7f", "\\u007f")


def wire_text(value):
    """The value text bmc-probe puts on the wire for one item."""
    if isinstance(value, bool):
        return "True" if value else "False"
    if value is None:
        return "None"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if math.isnan(value):
            return "nan"
        return repr(value)  # shortest round trip; "inf", "-inf", 12.0, 1e+16, 9e-05
    if isinstance(value, str):
        return value
    return document_text(value)


def key_parameter(name):
    """The name as Zabbix writes it when it fills an item prototype's key."""
    needs_quotes = name[:1] in ('"', " ", "[") or "," in name or "]" in name
    if needs_quotes and not name.endswith("\\"):
        return '"' + name.replace('"', '\\"') + '"'
    return name


def percent_units(element):
    return isinstance(element, dict) and element.get("ReadingUnits") in ("Percent", "%")


def expected_items(scenario, mode="discoveryOpenBMC"):
    docs = {}
    for name in ("storage.json", "power.json", "thermal.json", "total_power.json", "peak_power.json"):
        with open(os.path.join(scenario, name), encoding="utf-8") as f:
            docs[name] = json.load(f)
    items = []

    def fixed(key, value, word):
        kind = "uint" if word is not None else "float"
        items.append({"key": key, "value": wire_text(value), "kind": kind, "group": "fixed"})

    for key, doc, path, word in FIXED_BEFORE_LISTS:
        value = path_value(docs[doc], path)
        fixed(key, flag(value, word) if word else value, word)
    control = {"PowerConsumedWatts": ABSENT, "Health": 0, "State": 0}
    for element in member(docs["power.json"], "PowerControl", []):
        status = member(element, "Status", {})
        control = {"PowerConsumedWatts": member(element, "PowerConsumedWatts", ABSENT),
                   "Health": flag(member(status, "Health", ABSENT), "OK"),
                   "State": flag(member(status, "State", ABSENT), "Enabled")}
    fixed("powerControlConsumedWatts", control["PowerConsumedWatts"], None)
    fixed("powerControlHealth", control["Health"], "OK")
    fixed("powerControlState", control["State"], "Enabled")
    for lld_key, doc, array, macro, reading_macro, reading, rounds, prefixes in LISTS:
        rows = []
        row_prefixes = []
        for element in member(docs[doc], array, []):
            status = member(element, "Status", {})
            value = member(element, reading, ABSENT)
            # The generic mode never sends a fan in percent as RPM.
            in_percent = mode == "discoveryRedfish" and reading_macro == "READING_RPM" and percent_units(element)
            rows.append({"{#%s_NAME}" % macro: member(element, "Name", ABSENT),
                         "{#%s}" % ("READING_PERCENT" if in_percent else reading_macro):
                             rounded(value) if rounds else value,
                         "{#%s_HEALTH}" % macro: flag(member(status, "Health", ABSENT), "OK"),
                         "{#%s_STATE}" % macro: flag(member(status, "State", ABSENT), "Enabled")})
            row_prefixes.append(("readingPercent",) + prefixes[1:] if in_percent else prefixes)
        items.append({"key": lld_key, "value": document_text({"data": rows}), "kind": "lld", "group": "lld"})
        for row, prefixes_of_row in zip(rows, row_prefixes):
            name, value, health, state = row.values()
            parameter = key_parameter(name)
            for prefix, v, kind in zip(prefixes_of_row, (value, health, state), ("float", "uint", "uint")):
                items.append({"key": "%s[%s]" % (prefix, parameter), "value": wire_text(v), "kind": kind,
                              "group": "row"})
    for key, doc, path, word in FIXED_AFTER_LISTS:
        value = path_value(docs[doc], path)
        fixed(key, flag(value, word) if word else value, word)
    return items


def cmd_expected(scenario, out, mode="discoveryOpenBMC"):
    items = expected_items(scenario, mode)
    with open(out, "w", encoding="utf-8") as f:
        json.dump(items, f, ensure_ascii=False, indent=1)
    rows = sum(1 for i in items if i["group"] == "row") // 3
    print("expected: %d calls (20 fixed, 3 discovery documents, %d rows)" % (len(items), rows))


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


# ---- Zabbix API -----------------------------------------------------------

class Api:
    def __init__(self):
        self.url = os.environ["E2E_API_URL"]
        self.auth = None
        self.auth = self.call("user.login", {"username": "Admin", "password": "zabbix"})

    def call(self, method, params):
        body = {"jsonrpc": "2.0", "method": method, "params": params, "id": 1}
        if self.auth:
            body["auth"] = self.auth
        request = urllib.request.Request(self.url, json.dumps(body).encode(),
                                         {"Content-Type": "application/json-rpc"})
        with urllib.request.urlopen(request, timeout=60) as reply:
            answer = json.load(reply)
        if "error" in answer:
            fail("API %s: %s" % (method, json.dumps(answer["error"])))
        return answer["result"]


def macros_until_disabled(macros, external):
    """A host's macros: the template's external check is enabled until the test disables it on a host it
    feeds itself; a day's interval keeps Zabbix from running it in between."""
    return macros if external else dict(macros, **{"{$BMC.POLL.INTERVAL}": "1d"})


def cmd_provision(template_path, out):
    api = Api()
    with open(template_path, encoding="utf-8") as f:
        source = f.read()
    rule = {"createMissing": True, "updateExisting": True}
    rules = {"templates": rule, "items": rule, "discoveryRules": rule, "triggers": rule, "graphs": rule,
             "valueMaps": rule, "templateDashboards": rule, "templateLinkage": {"createMissing": True}}
    # 6.2 split host groups from template groups.
    rules["groups" if os.environ["E2E_ZABBIX_VERSION"] == "6.0" else "template_groups"] = {"createMissing": True}
    result = api.call("configuration.import", {"format": "yaml", "rules": rules, "source": source})
    if result is not True:
        fail("configuration.import answered %r" % (result,))
    print("template imported: configuration.import returned true")
    stock = api.call("host.get", {"filter": {"host": ["Zabbix server"]}, "output": ["hostid"]})
    if stock:
        api.call("host.update", {"hostid": stock[0]["hostid"], "status": 1})
    template = api.call("template.get", {"filter": {"host": ["BMC probe OpenBMC Redfish"]}, "output": ["templateid"]})
    group = api.call("hostgroup.create", {"name": "bmc-probe e2e"})["groupids"][0]
    ids = {}
    external = json.loads(os.environ["E2E_EXTERNAL_HOSTS"])
    for name, macros in json.loads(os.environ["E2E_HOSTS"]).items():
        macros = macros_until_disabled(macros, name in external)
        created = api.call("host.create", {
            "host": name, "groups": [{"groupid": group}],
            # Zabbix 6.0 binds an external check to an interface; its address is not used.
            "interfaces": [{"type": 1, "main": 1, "useip": 1, "ip": "127.0.0.1", "dns": "", "port": "10050"}],
            "inventory_mode": 1,  # automatic: the template's items fill it
            "templates": [{"templateid": template[0]["templateid"]}],
            "macros": [{"macro": m, "value": v, "type": 1 if m == "{$BMC.PASSWORD}" else 0}
                       for m, v in macros.items()]})
        ids[name] = created["hostids"][0]
    for name, hostid in ids.items():
        items = api.call("item.get", {"hostids": hostid, "search": {"key_": "bmc-probe["}, "output":
                                      ["itemid", "key_", "status"]})
        by_mode = {i["key_"].split('"')[1]: i for i in items}
        # discoveryRedfish is the default mode; discoveryOpenBMC stays, disabled.
        if by_mode.get("discoveryOpenBMC", {}).get("status") != "1":
            fail("%s: the discoveryOpenBMC external check is not disabled" % name)
        if by_mode.get("discoveryRedfish", {}).get("status") != "0":
            fail("%s: the discoveryRedfish external check is not enabled" % name)
        if name not in external:
            api.call("item.update", {"itemid": by_mode["discoveryRedfish"]["itemid"], "status": 1})
    with open(out, "w") as f:
        json.dump(ids, f)
    print("hosts created: " + ", ".join(ids))


def cmd_psk(host, identity, key_hex):
    api = Api()
    hostid = api.call("host.get", {"filter": {"host": [host]}, "output": ["hostid"]})[0]["hostid"]
    api.call("host.update", {"hostid": hostid, "tls_connect": 2, "tls_accept": 2,
                             "tls_psk_identity": identity, "tls_psk": key_hex})
    print("%s now accepts PSK only (identity %s)" % (host, identity))


# ---- sending --------------------------------------------------------------

def sender_args():
    return json.loads(os.environ.get("E2E_SENDER_ARGS", "[]"))


def zabbix_send(host, key, value, extra=None):
    """One value, one connection, like bmc-probe. True when Zabbix processed it."""
    args = ["zabbix_sender", "-vv"] + (extra if extra is not None else sender_args())
    args += ["-s", host, "-k", key, "-o", value]
    done = subprocess.run(args, capture_output=True, text=True, timeout=30)
    info = re.search(r"processed: (\d+); failed: (\d+)", done.stdout + done.stderr)
    if not info:
        raise RuntimeError("zabbix_sender for %s: no reply: %s" % (key, (done.stdout + done.stderr).strip()))
    return info.group(1) == "1"


def cmd_standin(expected_path, host):
    refused = []
    try:
        for item in load(expected_path):
            if not zabbix_send(host, item["key"], item["value"]) and item["group"] != "row":
                refused.append(item["key"])
    except RuntimeError as error:
        print(error, file=sys.stderr)
        sys.exit(1)
    if refused:
        print("Zabbix refused %d items: %s" % (len(refused), ", ".join(refused[:5])), file=sys.stderr)
        sys.exit(1)
    print("OK")


def cmd_send_until(expected_path, host, key, want, seconds, extra):
    value = next(i["value"] for i in load(expected_path) if i["key"] == key)
    deadline = time.time() + float(seconds)
    while True:
        accepted = zabbix_send(host, key, value, extra)
        if accepted == (want == "accepted"):
            return
        if time.time() > deadline:
            fail("%s on %s: still not %s after %s s" % (key, host, want, seconds))
        time.sleep(0.5)


# ---- Zabbix's own tables ----------------------------------------------------

def sql(query, *params):
    # Parameters are quoted here; the helpers only pass values they built themselves.
    text = query % tuple("'" + str(p).replace("'", "''") + "'" for p in params)
    done = subprocess.run(["psql", "-X", "-q", "-At", "-F", "\x1f", "-R", "\x1e", "-v", "ON_ERROR_STOP=1",
                           "-c", text], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        fail("psql: " + done.stderr.strip())
    out = done.stdout[:-1] if done.stdout.endswith("\n") else done.stdout  # psql's closing line feed
    return [r.split("\x1f") for r in out.split("\x1e") if r != ""]


HISTORY = {"uint": "history_uint", "float": "history", "str": "history_str", "text": "history_text"}


def items_of(host):
    rows = sql("select i.key_, i.itemid, i.value_type, i.flags, coalesce(r.state, 0), coalesce(r.error, '')"
               " from items i join hosts h on h.hostid = i.hostid left join item_rtdata r on r.itemid = i.itemid"
               " where h.host = %s", host)
    return {r[0]: {"itemid": r[1], "value_type": int(r[2]), "flags": int(r[3]), "state": int(r[4]),
                   "error": r[5]} for r in rows}


def history_since(host, since, kinds):
    """The values of the host's items since SINCE, by kind and item id: one query per history table."""
    found = {}
    for kind in sorted(kinds):
        for itemid, value in sql("select hi.itemid, hi.value from " + HISTORY[kind] + " hi join items i on"
                                 " i.itemid = hi.itemid join hosts h on h.hostid = i.hostid where h.host = %s"
                                 " and hi.clock >= %s", host, since):
            found.setdefault((kind, itemid), []).append(value)
    return found


def item_problems(expected, host, since):
    """By key, what is still missing or wrong in the history tables for values sent at or after SINCE."""
    items = items_of(host)
    history = history_since(host, since, {item["kind"] for item in expected})
    problems = {}
    for item in expected:
        key, found = item["key"], items.get(item["key"])
        if found is None:
            problems[key] = "%s: no such item" % key
            continue
        rows = history.get((item["kind"], found["itemid"]), [])
        if item["kind"] == "float" and not NUMERIC.match(item["value"]):
            if rows or found["state"] != 0:
                problems[key] = "%s: %r should be discarded, found %s, state %d %s" % (
                    key, item["value"], rows, found["state"], found["error"])
        elif item["kind"] == "float":
            if float(item["value"]) not in [float(r) for r in rows]:
                problems[key] = "%s: %s not in %s" % (key, item["value"], rows)
        elif item["value"] not in rows:
            problems[key] = "%s: %r not in %s" % (key, item["value"], rows)
    return problems


def landed_problems(expected, host, since):
    return list(item_problems(expected, host, since).values())


def wait_for(what, seconds, problems_now, tolerated=lambda problems: False):
    """Until problems_now() finds none; after SECONDS, passes when tolerated(problems) says so."""
    deadline = time.time() + float(seconds)
    while True:
        problems = problems_now()
        if not problems:
            return
        if time.time() > deadline:
            if tolerated(problems):
                return
            for p in problems[:15]:
                print("  " + p)
            fail("%s: %d problems after %s s" % (what, len(problems), seconds))
        time.sleep(0.5)


# Zabbix 6.0 has been seen to keep one value of a run in its history cache,
# every other value of the run written, until the server stopped (most likely
# its history syncer skipping the item while one of the item's triggers stays
# locked; the stop unlocks them all and writes it). At most a few such values
# of a run, never written at all, are noted in E2E_HELD and checked once the
# server has stopped.
MAX_HELD = 3


def note_held(expected, host, since):
    held_path = os.environ.get("E2E_HELD")
    if not held_path:
        return False
    problems = item_problems(expected, host, since)
    if len(problems) > MAX_HELD or not all(p.endswith(" not in []") for p in problems.values()):
        return False
    held = load(held_path) if os.path.exists(held_path) else []
    held += [dict(i, host=host, since=since) for i in expected if i["key"] in problems]
    with open(held_path, "w", encoding="utf-8") as f:
        json.dump(held, f, ensure_ascii=False)
    print("held: %s on %s not in the history yet, every other value written; checked again once the server "
          "has stopped" % (", ".join(problems), host))
    return True


def cmd_check_held():
    held_path = os.environ["E2E_HELD"]
    held = load(held_path) if os.path.exists(held_path) else []
    problems = [p for item in held for p in landed_problems([item], item["host"], item["since"])]
    if problems:
        for p in problems:
            print("  " + p)
        fail("%d of the %d values held by Zabbix were not in the history after its stop" % (len(problems), len(held)))
    if held:
        print("held: the %d values Zabbix held until its stop are in the history, exact" % len(held))


def cmd_check_landed(expected_path, host, since, which, seconds):
    groups = {"fixed": ["fixed"], "rows": ["row"], "all": ["fixed", "row"]}[which]
    expected = [i for i in load(expected_path) if i["group"] in groups]
    wait_for("values on %s" % host, seconds, lambda: landed_problems(expected, host, since),
             lambda problems: note_held(expected, host, since))
    discarded = sum(1 for i in expected if i["kind"] == "float" and not NUMERIC.match(i["value"]))
    print("landed: %d values on %s with the exact values sent (%d non-numeric readings discarded, item "
          "still supported)" % (len(expected) - discarded, host, discarded))


def cmd_check_discovered(expected_path, host, seconds, *literals):
    expected = load(expected_path)
    wanted = {i["key"] for i in expected if i["group"] == "row"}

    def problems_now():
        items = items_of(host)
        problems = []
        for rule in (i["key"] for i in expected if i["group"] == "lld"):
            if rule not in items or items[rule]["flags"] != 1:
                problems.append("%s: no discovery rule" % rule)
            elif items[rule]["state"] != 0 or items[rule]["error"]:
                problems.append("%s: %s" % (rule, items[rule]["error"]))
        discovered = {k for k, v in items.items() if v["flags"] == 4}
        problems += ["%s: not created" % k for k in sorted(wanted - discovered)]
        problems += ["%s: created but not expected" % k for k in sorted(discovered - wanted)]
        return problems

    wait_for("discovery on %s" % host, seconds, problems_now)
    for literal in literals:
        if literal not in wanted:
            fail("the scenario lacks the item %s" % literal)
    print("discovered: %d per-row items on %s, none more, among them %s" % (len(wanted), host, ", ".join(literals)))


def lastchecks(host, keys):
    """When low-level discovery last processed each discovered item's row (item_discovery.lastcheck)."""
    rows = sql("select i.key_, d.lastcheck from items i join hosts h on h.hostid = i.hostid"
               " join item_discovery d on d.itemid = i.itemid where h.host = %s and i.flags = 4", host)
    return {r[0]: int(r[1]) for r in rows if r[0] in keys}


def cmd_check_lld_discard(expected_path, host, seconds):
    """The template's discovery rules process a list only when its rows change: a document with the
    same rows and other readings, health and state is discarded (no discovered row's lastcheck moves),
    one with a new row is processed (the row's items created, every row's lastcheck moved)."""
    expected = load(expected_path)
    rule, prefixes = "discovery_ChassiThermalTemp", ("readingCelsius", "tempHealth", "tempState")
    rows = json.loads(next(i["value"] for i in expected if i["key"] == rule))["data"]
    if len(rows) < 2:
        fail("the scenario has fewer than two temperatures")

    def keys_of(names):
        return {"%s[%s]" % (prefix, key_parameter(n)) for n in names for prefix in prefixes}

    def send(document):
        if not zabbix_send(host, rule, json.dumps(document, ensure_ascii=False)):
            fail("%s on %s: Zabbix refused the discovery document" % (rule, host))

    def rule_error():
        found = items_of(host).get(rule)
        return "no discovery rule" if found is None else found["error"] if found["state"] != 0 else ""

    old = keys_of(r["{#TEMP_NAME}"] for r in rows)
    send({"data": rows})
    wait_for("first document on %s" % host, seconds,
             lambda: ["%s: not created" % k for k in sorted(old - set(lastchecks(host, old)))] + [
                 e for e in [rule_error()] if e])
    before = lastchecks(host, old)

    # Other readings, health and state, the same rows: what a BMC sends from run to run.
    def other(reading):
        return "%.1f" % (float(reading) + 1.5) if NUMERIC.match(str(reading)) else "41.5"

    moved = [dict(r, **{"{#READING_CELSIUS}": other(r.get("{#READING_CELSIUS}")),
                        "{#TEMP_HEALTH}": 1 - int(r.get("{#TEMP_HEALTH}", 0)),
                        "{#TEMP_STATE}": 1 - int(r.get("{#TEMP_STATE}", 0))}) for r in rows]
    if moved == rows:
        fail("the second document is the first one")
    time.sleep(1.1)  # lastcheck counts seconds
    send({"data": moved})
    quiet = 5.0
    time.sleep(quiet)
    after = lastchecks(host, old)
    if after != before:
        fail("%s on %s: a document with the same rows and other readings was processed (lastcheck %s -> %s)" %
             (rule, host, sorted(set(before.values())), sorted(set(after.values()))))
    if rule_error():
        fail("%s on %s: %s" % (rule, host, rule_error()))

    # A new row: the document is processed.
    new_name = "E2E new row"
    new = keys_of([new_name])
    time.sleep(1.1)
    sent = time.time()
    send({"data": moved + [dict(moved[0], **{"{#TEMP_NAME}": new_name})]})

    def not_yet():
        now = lastchecks(host, old | new)
        problems = ["%s: not created" % k for k in sorted(new - set(now))]
        problems += ["%s: lastcheck did not move" % k for k in sorted(old) if now.get(k, 0) <= before[k]]
        return problems + [e for e in [rule_error()] if e]

    wait_for("a document with a new row on %s" % host, seconds, not_yet)
    took = time.time() - sent
    if took > quiet:
        fail("the document with a new row took %.1f s to be processed, more than the %.0f s waited for the "
             "unchanged one: that it was discarded is not shown" % (took, quiet))
    print("lld discard: %s with the same %d rows and other readings, health and state discarded (no row's "
          "lastcheck moved in %.0f s); with a new row processed in %.1f s (its items created, every row's "
          "lastcheck moved)" % (rule, len(rows), quiet, took))


def open_problems(host, column="p.name", opened_since=None):
    """The names of the host's open problems; with column "i.key_", the keys of their items. With
    OPENED_SINCE, every problem opened at or after that clock, resolved since or not."""
    which = "p.r_eventid is null" if opened_since is None else "p.clock >= %d" % int(opened_since)
    rows = sql("select distinct " + column + " from problem p join triggers t on t.triggerid = p.objectid"
               " join functions f on f.triggerid = t.triggerid join items i on i.itemid = f.itemid"
               " join hosts h on h.hostid = i.hostid"
               " where p.source = 0 and p.object = 0 and " + which + " and h.host = %s", host)
    return {r[0] for r in rows}


# Values that break one limit or flag each, the problems they must open, and
# problems they must not open.
TRIGGER_CASES = [
    ("storageHealth", "0", "Storage health is not OK"),
    ('voltageHealth["CPU1, VR"]', "0", "Voltage CPU1, VR health is not OK"),
    ("tempState[Exhaust Temp \u00b0C]", "0", "Temperature Exhaust Temp \u00b0C is not enabled"),
    ("totalPower", "1700", "Total power above its upper critical limit"),
    ("peakPower", "1450", "Peak power above its upper caution limit"),
]
NOT_OPENED = ["Peak power above its upper critical limit", "Total power below its lower critical limit"]


def cmd_check_triggers(expected_path, host, seconds):
    expected = {i["key"]: i["value"] for i in load(expected_path)}
    if open_problems(host):
        fail("%s has problems before the trigger check: %s" % (host, sorted(open_problems(host))))
    for key, value, _ in TRIGGER_CASES:
        if not zabbix_send(host, key, value):
            fail("%s refused on %s" % (key, host))
    wanted = {name for _, _, name in TRIGGER_CASES}

    def opened():
        now = open_problems(host)
        return ["not open: " + n for n in sorted(wanted - now)] + ["open: " + n for n in NOT_OPENED if n in now]

    wait_for("problems on %s" % host, seconds, opened)
    for key, _, _ in TRIGGER_CASES:
        zabbix_send(host, key, expected[key])
    wait_for("recovery on %s" % host, seconds, lambda: ["still open: " + n for n in sorted(open_problems(host))])
    print("triggers: %d problems opened by bad flags and limits, none by values within limits, all resolved by "
          "good values" % len(wanted))


def cmd_check_external(host_ok, host_fail, host_slow, seconds):
    def state():
        rows = sql("select h.host, i.key_, coalesce((select value from history_text t where t.itemid = i.itemid"
                   " order by clock desc, ns desc limit 1), ''), t.value, t.description"
                   " from items i join hosts h on h.hostid = i.hostid"
                   " join functions f on f.itemid = i.itemid join triggers t on t.triggerid = f.triggerid"
                   " where i.key_ like %s and i.status = 0 and h.host in (%s, %s, %s)",
                   'bmc-probe["discoveryRedfish"%', host_ok, host_fail, host_slow)
        return {r[0]: {"value": r[2], "problem": r[3] == "1"} for r in rows}

    def problems_now():
        now = state()
        ok, bad, slow = now.get(host_ok), now.get(host_fail), now.get(host_slow)
        problems = []
        if not ok or ok["value"].splitlines()[-1:] != ["OK"] or ok["problem"]:
            problems.append("%s: %r" % (host_ok, ok))
        if not bad or not bad["value"] or bad["value"].splitlines()[-1:] == ["OK"] or not bad["problem"]:
            problems.append("%s: %r" % (host_fail, bad))
        if not slow or not slow["value"].startswith("FAILED: ") or not slow["problem"]:
            problems.append("%s: %r" % (host_slow, slow))
        return problems

    wait_for("external check", seconds, problems_now)
    now = state()
    print("external check: a run ending in OK leaves its trigger at rest; a failed run (%r) and one killed at "
          "the Timeout (%r) are problems" % (now[host_fail]["value"][:60], now[host_slow]["value"]))


def run_log(path):
    """The external script's log: per run, its start and end, the BMC address,
    the probe's process id and any signal the script caught."""
    runs = {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) < 3:
                continue
            run = runs.setdefault(words[0], {"pid": int(words[0])})
            if words[1] == "start":
                run.update(start=float(words[2]), address=words[3] if len(words) > 3 else "")
            elif words[1] == "child":
                run["child"] = int(words[2])
            elif words[1] == "end":
                run.update(end=float(words[2]), status=int(words[4]))
            elif words[1] == "signal":
                run.update(signal=words[2], signal_at=float(words[3]))
    return [r for r in runs.values() if "start" in r]


def alive(pid):
    return pid is not None and os.path.exists("/proc/%d" % pid)


def session_counts(path):
    with open(path) as f:
        events = [line.split() for line in f if line.strip()]
    opened = {e[1] for e in events if e[0] == "login"}
    closed = {e[1] for e in events if e[0] == "logout"}
    return len(opened), len(opened - closed)


def cmd_check_overrun(log_path, address, session_log, timeout, seconds):
    """Follows one run against the BMC that never answers a read, from its
    start to its end, and states what the Zabbix server did to it."""
    timeout, deadline = float(timeout), time.time() + float(seconds)
    watched = None
    while watched is None:
        # A run started from now on, so that it is seen from start to end.
        fresh = [r for r in run_log(log_path) if r["address"] == address and alive(r["pid"])
                 and r["start"] > time.time() - 1.0 and "child" in r]
        if fresh:
            watched = fresh[0]
        elif time.time() > deadline:
            fail("no run of the external check against %s started within %s s" % (address, seconds))
        else:
            time.sleep(0.05)
    while alive(watched["pid"]) or alive(watched.get("child")):
        if time.time() > deadline:
            fail("the run %d against %s still goes on after %s s" % (watched["pid"], address, seconds))
        time.sleep(0.05)
    gone_after = time.time() - watched["start"]
    run = next(r for r in run_log(log_path) if r["pid"] == watched["pid"])
    opened, still_open = session_counts(session_log)
    problems = []
    # The signal's time when the script caught it; else when the processes
    # were seen gone, which a loaded machine can delay.
    if "signal" in run and not abs(run["signal_at"] - run["start"] - timeout) <= 1.0:
        problems.append("it got SIG%s %.1f s after its start, not at the time-out of %g s" %
                        (run["signal"], run["signal_at"] - run["start"], timeout))
    if not timeout - 0.5 <= gone_after <= timeout + 6.0:
        problems.append("its processes were gone %.1f s after its start, not at the time-out of %g s" %
                        (gone_after, timeout))
    if "end" in run:
        problems.append("its script saw the probe end on its own: %r" % (run,))
    # A later run may be between its login and its time-out right now.
    running = sum(1 for r in run_log(log_path)
                  if r["address"] == address and (alive(r["pid"]) or alive(r.get("child"))))
    if still_open > running:
        problems.append("%d of the %d sessions opened on the BMC are left open, with %d run(s) going on" %
                        (still_open, opened, running))
    if problems:
        fail("overrunning run: " + "; ".join(problems))
    # The script catches the signal only when it arrives while the script
    # waits; in the other runs it dies with the probe.
    stopped = [r for r in run_log(log_path) if r["address"] == address and not alive(r["pid"])]
    caught = sorted({r["signal"] for r in stopped if "signal" in r})
    at = [r["signal_at"] - r["start"] for r in stopped if "signal" in r]
    how = ("SIG%s (caught by the script in %d of %d stopped runs, %.1f to %.1f s after their start)" %
           ("/SIG".join(caught), len(at), len(stopped), min(at), max(at)) if at else
           "a signal the script never got to catch (%d stopped runs)" % len(stopped))
    print("overrun: Zabbix %s stops an external check at its time-out of %g s by a signal to the run's whole "
          "process group: %s; this run's processes were gone %.1f s after its start. The probe, stopped "
          "between its login and its logout, logged out on the signal before it ended (%d sessions opened "
          "on the BMC, none left open)" % (os.environ["E2E_ZABBIX_VERSION"], timeout, how, gone_after, opened))


def cmd_check_sessions_closed(session_log, seconds):
    def problems_now():
        opened, still_open = session_counts(session_log)
        if opened == 0:
            return ["no session was ever opened"]
        return ["%d of %d sessions open" % (still_open, opened)] if still_open else []

    # A run may be between its login and its logout right now.
    wait_for("sessions closed", seconds, problems_now)
    print("sessions: each of the %d sessions opened on the BMC by the probe's runs, Zabbix's own among them, "
          "was closed" % session_counts(session_log)[0])


def cmd_dashboard_facts(host, out):
    api = Api()
    hostid = api.call("host.get", {"filter": {"host": [host]}, "output": ["hostid"]})[0]["hostid"]
    graphs = api.call("graph.get", {"hostids": hostid, "output": ["graphid", "name"],
                                    "selectGraphItems": ["color"], "sortfield": "name"})
    facts = {"hostid": hostid, "host": host, "graphs": [
        {"graphid": g["graphid"], "name": g["name"], "colors": [i["color"] for i in g["gitems"]]} for g in graphs]}
    with open(out, "w") as f:
        json.dump(facts, f)
    print("dashboard facts: host %s (%s), %d graphs" % (host, hostid, len(graphs)))


def cmd_open_problem(host, key, value, name, seconds):
    # The host's external check keeps running and its next value may resolve
    # the problem before a look finds it open: any problem opened since counts.
    sent = int(time.time())
    if not zabbix_send(host, key, value):
        fail("%s refused on %s" % (key, host))
    wait_for("problem on %s" % host, seconds,
             lambda: [] if name in open_problems(host, opened_since=sent) else ["not opened: " + name])
    print("problem opened on %s: %s" % (host, name))


def listening(port_file, backlog):
    """A socket listening on a free loopback port, which PORT_FILE names once it is ready."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(backlog)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    return server


def cmd_listen_once(port_file, seconds):
    server = listening(port_file, 1)
    server.settimeout(float(seconds))
    try:
        connection, _ = server.accept()
        connection.settimeout(5)
        head = connection.recv(13)
    except OSError:
        connection, head = None, b""
    # The verdict is written before the reply goes out: the probe ends as
    # soon as it has its answer, and the caller reads this file then.
    print("frame" if head.startswith(b"ZBXD\x01") else "none", flush=True)
    if connection is not None:
        reply = b'{"response":"failed","info":"e2e delivery check"}'
        try:
            connection.sendall(b"ZBXD\x01" + struct.pack("<II", len(reply), 0) + reply)
        except OSError:
            pass
        connection.close()


def read_frame(sock):
    """One Zabbix frame's payload from sock, and every byte read; None when it is not a plain frame."""
    data = b""
    while len(data) < 13:
        chunk = sock.recv(13 - len(data))
        if not chunk:
            return None, data
        data += chunk
    if not data.startswith(b"ZBXD\x01"):
        return None, data
    size = struct.unpack("<I", data[5:9])[0]
    while len(data) < 13 + size:
        chunk = sock.recv(13 + size - len(data))
        if not chunk:
            return None, data
        data += chunk
    return data[13:], data


def pump(source, target):
    try:
        while True:
            chunk = source.recv(65536)
            if not chunk:
                break
            target.sendall(chunk)
    except OSError:
        pass
    try:
        target.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def relay_one(client, target_port, log, lock):
    """Each connection's line is written before the client has its reply: the
    caller reads the log as soon as the sender is done."""
    def note(seen):
        with lock, open(log, "a") as f:
            f.write(json.dumps(seen, ensure_ascii=False) + "\n")

    server = socket.create_connection(("127.0.0.1", target_port), timeout=60)
    client.settimeout(60)
    try:
        request, raw = read_frame(client)
        server.sendall(raw)
        if request is None:  # TLS: the bytes only pass through
            note({"tls": True})
            back = threading.Thread(target=pump, args=(server, client))
            back.start()
            pump(client, server)
            back.join()
        else:
            keys = [item.get("key") for item in json.loads(request).get("data", [])]
            reply, raw = read_frame(server)
            note({"values": len(keys), "first": keys[:1], "last": keys[-1:],
                  "reply": json.loads(reply).get("info", "") if reply else None})
            client.sendall(raw)
    except (OSError, ValueError) as error:
        note({"error": str(error)})
    finally:
        client.close()
        server.close()


def cmd_relay(port_file, target_port, log):
    listener = listening(port_file, 16)
    lock = threading.Lock()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay_one, args=(client, int(target_port), log, lock), daemon=True).start()


def cmd_relay_report(log, max_connections):
    seen = [json.loads(line) for line in open(log, encoding="utf-8")] if os.path.exists(log) else []
    for s in seen:
        if "values" in s:
            print("request of %d values (%s ... %s): Zabbix answered \"%s\"" %
                  (s["values"], "".join(s["first"]), "".join(s["last"]), s.get("reply")))
    print("%d connections" % len(seen))
    if not seen or len(seen) > int(max_connections):
        fail("%d connections to Zabbix, expected 1 to %s" % (len(seen), max_connections))
    for s in seen:
        if "error" in s or ("values" in s and not re.search(r"failed: 0;", s.get("reply") or "")):
            fail("a request was not taken whole: %s" % json.dumps(s, ensure_ascii=False))


FLAG_KEYS = {"storageHealth", "storageHealthRollup", "storageState", "powerControlHealth", "powerControlState",
             "totalPowerStatus", "totalPowerState", "peakPowerStatus", "peakPowerState"}
FLAG_PREFIXES = ("voltageHealth[", "voltageState[", "fanHealth[", "fanState[", "tempHealth[", "tempState[")


def cmd_record(port_file, lines_path):
    server = listening(port_file, 16)
    with open(lines_path, "a", encoding="utf-8") as lines:
        while True:
            connection, _ = server.accept()
            connection.settimeout(10)
            try:
                payload, _ = read_frame(connection)
                values = json.loads(payload).get("data", []) if payload is not None else []
                for value in values:
                    lines.write(json.dumps({"key": value["key"], "value": value["value"]}, ensure_ascii=False) + "\n")
                lines.flush()
                reply = ('{"response":"success","info":"processed: %d; failed: 0; total: %d; seconds spent: 0.000001"}'
                         % (len(values), len(values))).encode()
                connection.sendall(b"ZBXD\x01" + struct.pack("<II", len(reply), 0) + reply)
            except (OSError, ValueError):
                pass
            connection.close()


# The whole server's values, sent as the BMC's words and texts (discoveryRedfish).
WORD_KEYS = {"systemHealth", "systemHealthRollup", "systemState", "systemManufacturer", "systemModel",
             "systemSerialNumber", "systemPartNumber", "systemSku", "biosVersion", "bmcFirmwareVersion"}
WORD_PREFIXES = ("psuHealth[", "psuState[", "memoryHealth[", "memoryState[", "cpuHealth[", "cpuState[",
                 "driveHealth[", "driveState[", "driveFailurePredicted[")
TEXT_KEYS = {"systemConditions"}
INVENTORY = {"vendor": "systemManufacturer", "model": "systemModel", "serialno_a": "systemSerialNumber",
             "hardware": "systemPartNumber", "serialno_b": "systemSku", "software_app_a": "biosVersion",
             "software_app_b": "bmcFirmwareVersion"}


def recorded_kind(key):
    if key.startswith("discovery_"):
        return "lld", "lld"
    group = "row" if "[" in key else "fixed"
    if key in TEXT_KEYS:
        return "text", group
    if key in WORD_KEYS or key.startswith(WORD_PREFIXES):
        return "str", group
    flag_item = key in FLAG_KEYS or key.startswith(FLAG_PREFIXES)
    return ("uint" if flag_item else "float"), group


SEVERITY = {2: "Warning", 3: "Average", 4: "High"}


def word_severity(key, value, values):
    """The severity of the problem the template opens for a word, or None: a health other than "OK"
    is a Warning, "Critical" a High one; a state "UnavailableOffline" is Average; a predicted drive
    failure a Warning, unless the drive's health is Critical; "N/A" never opens one."""
    name, row = key.split("[", 1)[0], key[key.find("["):] if "[" in key else ""
    if name.endswith(("Health", "HealthRollup")):
        return 4 if value == "Critical" else None if value in ("OK", ABSENT) else 2
    if name.endswith("State"):
        return 3 if value == "UnavailableOffline" else None
    if name == "driveFailurePredicted":
        return 2 if value == "true" and values.get("driveHealth" + row) != "Critical" else None
    return None


def cmd_expected_recorded(lines_path, out):
    items = []
    with open(lines_path, encoding="utf-8") as lines:
        for line in lines:
            sent = json.loads(line)
            kind, group = recorded_kind(sent["key"])
            value = sent["value"]
            # The template turns what the BMC does not publish into 2, "Not published".
            if kind == "uint" and value == ABSENT:
                value = "2"
            items.append({"key": sent["key"], "value": value, "kind": kind, "group": group})
    with open(out, "w", encoding="utf-8") as f:
        json.dump(items, f, ensure_ascii=False, indent=1)
    flags = [i for i in items if i["kind"] == "uint"]
    print("recorded: %d values, %d rows; flags: %d at 1, %d at 0, %d not published" %
          (len(items), sum(1 for i in items if i["group"] == "row") // 3, sum(1 for i in flags if i["value"] == "1"),
           sum(1 for i in flags if i["value"] == "0"), sum(1 for i in flags if i["value"] == "2")))


def cmd_check_problems_published(expected_path, host, seconds):
    expected = load(expected_path)
    values = {i["key"]: i["value"] for i in expected}
    zero = {i["key"] for i in expected if i["kind"] == "uint" and i["value"] == "0"}
    words = {i["key"]: word_severity(i["key"], i["value"], values) for i in expected if i["kind"] == "str"}
    wanted = {k: v for k, v in words.items() if v is not None}
    not_published = {i["key"] for i in expected if i["kind"] in ("uint", "str") and i["value"] in ("2", ABSENT)}
    if not not_published:
        fail("the capture has no flag or word it does not publish; nothing to check")
    conditions = values.get("systemConditions", "")

    def problems_now():
        found = {}
        for key, severity, name in sql(
                "select i.key_, p.severity, p.name from problem p join triggers t on t.triggerid = p.objectid"
                " join functions f on f.triggerid = t.triggerid join items i on i.itemid = f.itemid"
                " join hosts h on h.hostid = i.hostid where p.source = 0 and p.object = 0 and p.r_eventid is null"
                " and h.host = %s and i.key_ <> 'systemConditions'", host):
            found.setdefault(key, set()).add((int(severity), name))
        problems = ["no problem on %s, which the BMC publishes as not OK" % k for k in sorted(zero - set(found))]
        for key, severity in sorted(wanted.items()):
            seen = {s for s, _ in found.get(key, set())}
            if seen != {severity}:
                problems.append("%s = %r: problems of severity %s, not one %s" %
                                (key, values[key], sorted(SEVERITY.get(s, s) for s in seen), SEVERITY[severity]))
            elif key.startswith("systemHealth") and conditions not in ("", ABSENT):
                names = [n for _, n in found[key]]
                if not any(conditions.split("\n")[0] in n for n in names):
                    problems.append("%s: the problem %r does not name the condition %r" % (key, names, conditions))
        problems += ["a problem on %s, which %s" % (k, "the BMC does not publish" if k in not_published else "is OK")
                     for k in sorted(set(found) - zero - set(wanted))]
        return problems

    wait_for("problems on %s" % host, seconds, problems_now)
    print("problems: %d open on flags the BMC publishes as not OK, %d on its words (%s), none on the %d flags and "
          "words it does not publish" % (len(zero), len(wanted), ", ".join(
              "%s %s" % (k, SEVERITY[v]) for k, v in sorted(wanted.items())) or "none", len(not_published)))


def cmd_check_inventory(expected_path, host, seconds):
    values = {i["key"]: i["value"] for i in load(expected_path)}
    if values.get("systemSerialNumber", ABSENT) == ABSENT or values.get("systemModel", ABSENT) == ABSENT:
        fail("the capture publishes no serial number or model; nothing to check")
    fields = sorted(INVENTORY)

    def problems_now():
        rows = sql("select " + ", ".join("coalesce(v.%s, '')" % f for f in fields) + " from host_inventory v"
                   " join hosts h on h.hostid = v.hostid where h.host = %s", host)
        if not rows:
            return ["%s has no inventory" % host]
        return ["inventory %s: %r, not %r" % (f, got, values.get(INVENTORY[f]))
                for f, got in zip(fields, rows[0]) if got != values.get(INVENTORY[f])]

    wait_for("inventory of %s" % host, seconds, problems_now)
    print("inventory of %s: serial number %s, model %s, and %s as the BMC publishes them" %
          (host, values["systemSerialNumber"], values["systemModel"],
           ", ".join(f for f in fields if f not in ("serialno_a", "model"))))


def main(argv):
    commands = {
        "expected": lambda a: cmd_expected(*a),
        "api-provision": lambda a: cmd_provision(*a),
        "api-psk": lambda a: cmd_psk(*a),
        "standin": lambda a: cmd_standin(*a),
        "send-until": lambda a: cmd_send_until(a[0], a[1], a[2], a[3], a[4], a[5:] or None),
        "check-landed": lambda a: cmd_check_landed(*a),
        "check-held": lambda a: cmd_check_held(*a),
        "check-discovered": lambda a: cmd_check_discovered(*a),
        "check-lld-discard": lambda a: cmd_check_lld_discard(*a),
        "check-external": lambda a: cmd_check_external(*a),
        "check-triggers": lambda a: cmd_check_triggers(*a),
        "check-overrun": lambda a: cmd_check_overrun(*a),
        "check-sessions-closed": lambda a: cmd_check_sessions_closed(*a),
        "dashboard-facts": lambda a: cmd_dashboard_facts(*a),
        "open-problem": lambda a: cmd_open_problem(*a),
        "listen-once": lambda a: cmd_listen_once(*a),
        "relay": lambda a: cmd_relay(*a),
        "relay-report": lambda a: cmd_relay_report(*a),
        "record": lambda a: cmd_record(*a),
        "expected-recorded": lambda a: cmd_expected_recorded(*a),
        "check-problems-published": lambda a: cmd_check_problems_published(*a),
        "check-inventory": lambda a: cmd_check_inventory(*a),
    }
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__)
        return 2
    commands[argv[1]](argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
