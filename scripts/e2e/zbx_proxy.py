#!/usr/bin/env python3
"""The proxy part of scripts/test-e2e: a Zabbix proxy and the hosts it monitors.

Subcommands:
  api-proxy NAME OUT   create the active proxy NAME and the hosts of $E2E_PROXY_HOSTS (name -> macros) on it,
                       linked to the template, the external check enabled only on those in
                       $E2E_PROXY_EXTERNAL_HOSTS; write the hosts' ids
  check-last-line HOST KEY WORD SINCE SECONDS
                       the newest text value since SINCE of HOST's item KEY (an SQL like pattern) ends in the
                       line WORD, at the server
"""
import json
import os
import sys

from zbx_e2e import Api, fail, macros_until_disabled, sql, wait_for


def proxy_create(api, name):
    """6.0 names a proxy as a host with status 5 (active); 7.0 has a name and an operating mode 0 (active)."""
    if os.environ["E2E_ZABBIX_VERSION"] == "6.0":
        return api.call("proxy.create", {"host": name, "status": 5})["proxyids"][0]
    return api.call("proxy.create", {"name": name, "operating_mode": 0})["proxyids"][0]


def monitored_by(proxyid):
    if os.environ["E2E_ZABBIX_VERSION"] == "6.0":
        return {"proxy_hostid": proxyid}
    return {"monitored_by": 1, "proxyid": proxyid}


def cmd_api_proxy(name, out):
    api = Api()
    proxyid = proxy_create(api, name)
    template = api.call("template.get", {"filter": {"host": ["BMC probe OpenBMC Redfish"]}, "output": ["templateid"]})
    group = api.call("hostgroup.get", {"filter": {"name": ["bmc-probe e2e"]}, "output": ["groupid"]})[0]["groupid"]
    external = json.loads(os.environ["E2E_PROXY_EXTERNAL_HOSTS"])
    ids = {}
    for host, macros in json.loads(os.environ["E2E_PROXY_HOSTS"]).items():
        macros = macros_until_disabled(macros, host in external)
        params = {
            "host": host, "groups": [{"groupid": group}],
            "interfaces": [{"type": 1, "main": 1, "useip": 1, "ip": "127.0.0.1", "dns": "", "port": "10050"}],
            "templates": [{"templateid": template[0]["templateid"]}],
            "macros": [{"macro": m, "value": v, "type": 1 if m == "{$BMC.PASSWORD}" else 0}
                       for m, v in macros.items()]}
        params.update(monitored_by(proxyid))
        ids[host] = api.call("host.create", params)["hostids"][0]
        if host not in external:
            items = api.call("item.get", {"hostids": ids[host], "search": {"key_": "bmc-probe["},
                                          "output": ["itemid", "status"]})
            for item in items:
                if item["status"] == "0":
                    api.call("item.update", {"itemid": item["itemid"], "status": 1})
    with open(out, "w") as f:
        json.dump(ids, f)
    print("proxy %s created, monitoring %s" % (name, ", ".join(ids)))


def cmd_check_last_line(host, key, word, since, seconds):
    def problems_now():
        rows = sql("select t.value from history_text t join items i on i.itemid = t.itemid"
                   " join hosts h on h.hostid = i.hostid where h.host = %s and i.key_ like %s"
                   " and t.clock >= %s order by t.clock desc, t.ns desc limit 1", host, key, since)
        if not rows:
            return ["%s: no value of %s since %s" % (host, key, since)]
        last = rows[0][0].splitlines()[-1:]
        return [] if last == [word] else ["%s: %s ends in %r, not %r" % (host, key, last, word)]

    wait_for("%s on %s" % (key, host), seconds, problems_now)
    print("last value: %s of %s ends in %r at the server" % (key, host, word))


def main(argv):
    commands = {"api-proxy": cmd_api_proxy, "check-last-line": cmd_check_last_line}
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__)
        return 2
    commands[argv[1]](*argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
