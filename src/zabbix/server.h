#pragma once
// Where the values go: the Zabbix server (or the nodes of one high-availability
// cluster, tried in order) and, when the configuration asks for it, the PSK
// that encrypts the connection.
#include <optional>
#include <string>
#include <vector>

namespace zabbix {

// The trapper port Zabbix listens on unless told otherwise.
inline constexpr int kDefaultPort = 10051;

struct ZabbixEndpoint {
    std::string host;
    int port = kDefaultPort;
};

struct ZabbixPsk {
    std::string identity;
    std::string key_hex;
};

struct ZabbixServer {
    std::vector<ZabbixEndpoint> nodes;
    std::optional<ZabbixPsk> psk;
};

// Where the server is looked up: an address that overrides the configuration,
// the configuration file named by the user, and the agent files tried when
// none is named.
struct ZabbixServerSources {
    std::optional<std::string> server_override;
    std::optional<std::string> config_path;
    std::vector<std::string> default_configs;
};

// Obtains the run's server from BMC_PROBE_ZABBIX_SERVER,
// BMC_PROBE_ZABBIX_CONFIG, then the Zabbix agent's configuration files; the
// same for every host the values are for.
ZabbixServer obtain_zabbix_server();

ZabbixServer zabbix_server_from(const ZabbixServerSources& sources);

// "host:port", with brackets around an IPv6 address; nodes joined by ";".
std::string endpoint_text(const ZabbixEndpoint& endpoint);
std::string server_text(const ZabbixServer& server);

}  // namespace zabbix
