# Sourced by scripts/test-e2e: a Zabbix proxy of the version under test
# (SQLite, active) beside the server, and two hosts it monitors: one polled by
# the template's external check, which the proxy runs, one by bmc-probe's
# fleet mode running beside the proxy. Both deliver to the proxy; every value
# must land at the server.

proxy_name=e2e-proxy
proxy_ext_host=e2e-proxy-ext
proxy_fleet_host=e2e-proxy-fleet
proxy_helper=$root/scripts/e2e/zbx_proxy.py
zbx_proxy_bin="" # set by select_zabbix
proxy_port=""
proxy_pid=""
fleet_pid=""

# Debian 12's proxy cannot be installed beside its server (the packages
# conflict), so it is unpacked into the cache as the 7.0 packages are; the
# libraries it needs come from Debian 12 itself.
fetch_zabbix_proxy_6_0() {
  local dir=$cache/zabbix-proxy-6.0 p missing=()
  if [ ! -x "$dir/root/usr/sbin/zabbix_proxy" ]; then
    say "downloading Debian 12's zabbix-proxy-sqlite3 into $dir"
    rm -rf "$dir"
    mkdir -p "$dir/debs" "$dir/root"
    (cd "$dir/debs" && apt-get -o APT::Sandbox::User=root download zabbix-proxy-sqlite3) \
      >"$state/log/apt-proxy-6.0.log" 2>&1 || die "apt-get download failed (see $state/log/apt-proxy-6.0.log)"
    dpkg-deb -x "$dir"/debs/zabbix-proxy-sqlite3_*.deb "$dir/root"
  fi
  for p in $(dpkg-deb -f "$dir"/debs/zabbix-proxy-sqlite3_*.deb Depends | tr ',' '\n' | sed 's/[|(].*//; s/ //g'); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    packages=("${missing[@]}")
    install_packages
  fi
  missing=($(ldd "$dir/root/usr/sbin/zabbix_proxy" | awk '/not found/ {print $1}'))
  [ ${#missing[@]} -eq 0 ] || die "the unpacked zabbix_proxy lacks ${missing[*]}"
  zbx_proxy_bin=$dir/root/usr/sbin/zabbix_proxy
}

# The external check run by the proxy delivers to the proxy.
install_proxy_external_script() { # dir
  mkdir -p "$1"
  cat >"$1/bmc-probe" <<EOF
#!/bin/sh
echo \$\$ >>$state/run/zbx/external.pids
BMC_PROBE_ZABBIX_SERVER=127.0.0.1:$proxy_port exec $state/externalscripts/bmc-probe.bin "\$@"
EOF
  chmod 755 "$1/bmc-probe"
}

# Zabbix 6.0 names the proxy's configuration refresh ConfigFrequency, 6.4 on
# ProxyConfigFrequency; 7.0 also starts pollers of kinds not needed here.
proxy_version_settings() {
  if [ "$version" = 6.0 ]; then
    echo ConfigFrequency=2
  else
    printf '%s\n' ProxyConfigFrequency=2 StartAgentPollers=0 StartHTTPAgentPollers=0 StartSNMPPollers=0 \
      StartBrowserPollers=0
  fi
}

start_proxy() {
  local dir=$state/run/proxy conf=$state/zabbix_proxy.conf
  proxy_port=$(free_port)
  rm -rf "$dir"
  mkdir -p "$dir"
  chown zabbix: "$dir"
  install_proxy_external_script "$state/proxy-externalscripts"
  cat >"$conf" <<EOF
ProxyMode=0
Server=127.0.0.1:$zbx_port
Hostname=$proxy_name
ListenIP=127.0.0.1
ListenPort=$proxy_port
LogFile=$state/log/zabbix_proxy.log
LogFileSize=0
PidFile=$dir/zabbix_proxy.pid
SocketDir=$dir
DBName=$dir/proxy.db
ExternalScripts=$state/proxy-externalscripts
Timeout=$server_timeout
DataSenderFrequency=1
StartPollers=2
StartPollersUnreachable=1
StartTrappers=2
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
EOF
  proxy_version_settings >>"$conf"
  "$zbx_proxy_bin" -f -c "$conf" >"$state/log/zabbix_proxy.out" 2>&1 &
  proxy_pid=$!
  started_pid "$proxy_pid" zabbix_proxy
  local deadline=$(($(date +%s) + 60))
  until bash -c "exec 3<>/dev/tcp/127.0.0.1/$proxy_port" 2>/dev/null; do
    kill -0 "$proxy_pid" 2>/dev/null || die "zabbix_proxy ended: $(tail -3 "$state/log/zabbix_proxy.out")"
    [ "$(date +%s)" -lt "$deadline" ] || die "zabbix_proxy not listening on 127.0.0.1:$proxy_port within 60 s"
    sleep 0.2
  done
}

# Whether the probe has the fleet mode: it names the missing fleet file, where
# a probe without it refuses the argument count.
has_fleet_mode() {
  local missing=$state/run/no-such-fleet-file said
  said=$(build/bmc-probe fleet "$missing" 2>&1) || true # fails either way; pipefail would hide grep's answer
  grep -qF "$missing" <<<"$said"
}

start_fleet() {
  local list=$state/run/fleet.list
  (umask 077 && printf '%s discoveryOpenBMC 127.0.0.1:%s %s %s\n' "$proxy_fleet_host" "$sim_port" "$bmc_user" \
    "$bmc_password" >"$list")
  BMC_PROBE_ZABBIX_SERVER=127.0.0.1:$proxy_port BMC_PROBE_FLEET_INTERVAL=5 build/bmc-probe fleet "$list" \
    >"$state/log/fleet.out" 2>&1 &
  fleet_pid=$!
  started_pid "$fleet_pid" "bmc-probe fleet"
}

check_proxy() {
  local t fleet=""
  [ -n "$use_probe" ] && has_fleet_mode && fleet=yes
  local macros="{\"{\$BMC.USER}\": \"$bmc_user\", \"{\$BMC.PASSWORD}\": \"$bmc_password\", \"{\$BMC.ADDRESS}\": \"127.0.0.1:${sim_port:-9}\""
  export E2E_PROXY_HOSTS="{\"$proxy_ext_host\": $macros, \"{\$BMC.POLL.INTERVAL}\": \"5s\"},
    \"$proxy_fleet_host\": $macros}}"
  export E2E_PROXY_EXTERNAL_HOSTS="[\"$proxy_ext_host\"]"
  t=$(date +%s)
  python3 "$proxy_helper" api-proxy "$proxy_name" "$state/proxy-hosts.json"
  reload_config_cache
  start_proxy
  [ -n "$fleet" ] && start_fleet
  python3 "$helper" check-landed "$state/expected-redfish.json" "$proxy_ext_host" "$t" all 90
  python3 "$proxy_helper" check-last-line "$proxy_ext_host" 'bmc-probe["discoveryRedfish"%' OK "$t" 30
  passed+=("proxy $version: the template's external check run by the proxy delivers there, every value lands at the server")
  if [ -n "$fleet" ]; then
    python3 "$helper" check-landed "$state/expected.json" "$proxy_fleet_host" "$t" all 90
    python3 "$proxy_helper" check-last-line "$proxy_fleet_host" bmcProbeRun OK "$t" 30
    passed+=("proxy $version: the fleet mode beside it delivers there, every value and bmcProbeRun OK land at the server")
    stop_pid "$fleet_pid" "bmc-probe fleet" TERM
    forget_pid "$fleet_pid"
  else
    skipped+=("proxy $version: the fleet mode's host (this probe has no fleet mode)")
  fi
  stop_pid "$proxy_pid" zabbix_proxy TERM
  forget_pid "$proxy_pid"
  stop_external_runs
}
