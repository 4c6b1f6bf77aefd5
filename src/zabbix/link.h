#pragma once
// send_zabbix: item values to the Zabbix server over the sender protocol,
// through a link made once per run. send_zabbix gathers each value in call
// order, stamped with its own moment; send_gathered then sends them in a few
// requests (zabbix_batch), one connection each, as the server answers one
// request per connection. The link keeps what the run learns on the way: the
// addresses of each server name (asked of the resolver once, not once per
// request), the cluster node that answered (asked first from then on) and the
// PSK context. Every socket call waits only as long as the run-time guard
// allows.
#include <sys/socket.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/json.h"
#include "support/run_guard.h"
#include "zabbix/batch.h"
#include "zabbix/frame.h"
#include "zabbix/psk.h"
#include "zabbix/server.h"

namespace zabbix {

struct ResolvedAddress {
    int family;
    int socktype;
    int protocol;
    sockaddr_storage address;
    socklen_t length;
};

struct ZabbixLink {
    ZabbixServer server;
    support::RunGuard* guard;  // the run's: every socket call waits only as long as it allows
    std::map<std::string, std::vector<ResolvedAddress>> resolved{};  // "host:port" -> its addresses
    std::optional<ZabbixEndpoint> answering_node{};
    PskContext psk_context{nullptr, SSL_CTX_free};  // made at the first PSK connection
    Gathered gathered{};                            // values not sent yet
};

// Gathers one value for the next send_gathered. A value whose text cannot go
// on the wire (not valid UTF-8) ends the run with a Failure naming the key.
void send_zabbix(ZabbixLink& link, const std::string& zabbix_host, const std::string& key, const support::Json& value,
                 Refusal refusal = Refusal::Counts);

// The server's answer to one request.
struct RequestAnswer {
    Refusal refusal;
    std::vector<std::string> keys;
    SendResult result;
};

// Sends one request as send_gathered does, raising the same failures.
SendResult send_request(ZabbixLink& link, const GatheredRequest& request);

// Sends every gathered value, request by request, and forgets them. A request
// that cannot be delivered (no node takes the connection, connection dropped,
// malformed reply, "response" other than "success") ends the run with a
// Failure naming the server and the request's keys; the requests after it are
// not sent. A node that cannot be connected to or fails the TLS handshake is
// passed over for the next node of the cluster, with the same request; once
// the request has gone out it is not sent again, since the node may have
// stored it.
std::vector<RequestAnswer> send_gathered(ZabbixLink& link);

}  // namespace zabbix
