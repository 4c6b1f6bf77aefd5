#pragma once
// Where the values go: the Zabbix server (or the nodes of one high-availability
// cluster, tried in order) and, when the configuration asks for it, the PSK
// that encrypts the connection.
#include <optional>
#include <string>
#include <vector>

namespace support {

struct ZabbixEndpoint {
    std::string host;
    int port = 10051;
};

struct ZabbixPsk {
    std::string identity;
    std::string key_hex;
};

struct ZabbixServer {
    std::vector<ZabbixEndpoint> nodes;
    std::optional<ZabbixPsk> psk;
};

// Obtains the server for the run's zabbix_host.
ZabbixServer obtain_zabbix_server(const std::string& zabbix_host);

}  // namespace support
