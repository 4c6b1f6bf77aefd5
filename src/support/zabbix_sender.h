#pragma once
// send_zabbix: one item value to the Zabbix server over the sender protocol.
#include <string>

#include "support/json.h"
#include "support/zabbix_server.h"

namespace support {

struct SendResult {
    bool accepted;     // false when Zabbix answered "failed: 1" for the item
    std::string info;  // Zabbix's info text
};

// Delivers one value; a value that cannot be delivered (server unreachable,
// connection dropped, malformed reply, "response" other than "success") ends
// the run with a Failure naming the server and the key.
SendResult send_zabbix(const ZabbixServer& server, const std::string& zabbix_host, const std::string& key,
                       const Json& value);

// The answer in the bytes a server sent back for one value (frame header and
// payload; bytes after the announced payload are ignored), with the same
// failures as send_zabbix; server and key name the exchange in them.
SendResult parse_sender_reply(const std::string& reply, const std::string& server, const std::string& key);

}  // namespace support
