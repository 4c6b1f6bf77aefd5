#pragma once
// send_zabbix: one item value to the Zabbix server over the sender protocol,
// through a link made once per run. The link keeps what the run learns on
// the way: the addresses of each server name (asked of the resolver once,
// not once per value), the cluster node that answered (asked first from then
// on) and the PSK context. Every socket call waits only as long as the
// run-time guard allows.
#include <sys/socket.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/json.h"
#include "support/zabbix_frame.h"
#include "support/zabbix_psk.h"
#include "support/zabbix_server.h"

namespace support {

struct ResolvedAddress {
    int family;
    int socktype;
    int protocol;
    sockaddr_storage address;
    socklen_t length;
};

struct ZabbixLink {
    ZabbixServer server;
    std::map<std::string, std::vector<ResolvedAddress>> resolved{};  // "host:port" -> its addresses
    std::optional<ZabbixEndpoint> answering_node{};
    PskContext psk_context{nullptr, SSL_CTX_free};  // made at the first PSK connection
};

// Delivers one value; a value that cannot be delivered (server unreachable,
// connection dropped, malformed reply, "response" other than "success") ends
// the run with a Failure naming the server and the key.
SendResult send_zabbix(ZabbixLink& link, const std::string& zabbix_host, const std::string& key, const Json& value);

}  // namespace support
