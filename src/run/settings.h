#pragma once
// RunSettings: everything one run takes from its command line, as given.
#include <optional>
#include <string>

#include "zabbix/server.h"

namespace run {

struct RunSettings {
    std::string mode;
    std::string host;
    std::string url_base;
    std::string user;
    std::string pwd;
    std::optional<std::string> zabbix_host;             // unset in the one-argument form
    std::optional<zabbix::ZabbixServer> zabbix_server;  // where zabbix_host's values go
    std::optional<std::string> fleet_file{};            // "fleet FILE": the BMCs a long-lived process polls
};

// The settings of argv, or nothing when the argument count is neither 1 nor 6
// (nor 2 for "fleet FILE").
// The password argument is wiped in place once copied, so that the process
// list no longer shows it.
std::optional<RunSettings> parse_command_line(int argc, char** argv);

// The zabbix_host of the settings; a Failure when it is unset.
const std::string& required_zabbix_host(const RunSettings& settings);

}  // namespace run
