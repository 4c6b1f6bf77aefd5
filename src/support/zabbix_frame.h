#pragma once
// The Zabbix sender protocol's bytes, with no I/O: the request frame for one
// value, and the reply read from the bytes a server sent back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/json.h"

namespace support {

struct SendResult {
    bool accepted;     // false when Zabbix answered "failed: 1" for the item
    std::string info;  // Zabbix's info text
};

// The exchange a failure happened in: the server (or node) and the key.
struct ZabbixWhere {
    std::string server;
    std::string key;
};

// Raises the ZabbixError "Zabbix server <server>, key "<key>": <why>".
[[noreturn]] void zabbix_failure(const ZabbixWhere& where, const std::string& why);

// "ZBXD", the protocol flag, 4 bytes of payload length, 4 reserved bytes.
inline constexpr std::size_t kFrameHeaderSize = 13;

// The whole request frame that sends value under key for zabbix_host; the
// value as the text a person reads in the debug report.
std::string sender_request(const std::string& zabbix_host, const std::string& key, const Json& value,
                           const ZabbixWhere& where);

// The payload size a reply's header announces, after checking that the header
// is a whole Zabbix frame header of a believable size.
std::uint32_t reply_size(const std::string& header, const ZabbixWhere& where);

// Fails unless payload holds the announced size.
void check_payload_size(const std::string& payload, std::uint32_t size, const ZabbixWhere& where);

// The answer in a reply's payload: accepted, refused, or a failure when the
// server answered anything but "success".
SendResult read_answer(const std::string& payload, const ZabbixWhere& where);

// The answer in the bytes a server sent back for one value (frame header and
// payload; bytes after the announced payload are ignored), with the same
// failures; server and key name the exchange in them.
SendResult parse_sender_reply(const std::string& reply, const std::string& server, const std::string& key);

}  // namespace support
