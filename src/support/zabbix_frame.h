#pragma once
// The Zabbix sender protocol's bytes, with no I/O: the data item of one value,
// the request frame that carries a run of them, and the reply read from the
// bytes a server sent back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "support/json.h"

namespace support {

struct SendResult {
    std::uint64_t failed;  // values Zabbix refused, from "failed: N" in its info
    std::string info;      // Zabbix's info text
};

// The exchange a failure happened in: the server (or node) and the request's
// keys, its first and last when it carries more than one value.
struct ZabbixWhere {
    std::string server;
    std::string first_key;
    std::string last_key;
    std::size_t values = 1;
};

// "Zabbix server <server>, key "<key>"", or for several values
// "Zabbix server <server>, <n> values from key "<first>" to "<last>"".
std::string where_text(const ZabbixWhere& where);

// What a failure's message says after its where_text: the why.
std::string failure_reason(const std::string& message, const ZabbixWhere& where);

// Raises the ZabbixError "<where_text>: <why>".
[[noreturn]] void zabbix_failure(const ZabbixWhere& where, const std::string& why);

// A moment as Zabbix's clock and ns fields give it.
struct Timestamp {
    std::int64_t sec = 0;
    std::int64_t ns = 0;
};

// "ZBXD", the protocol flag, 4 bytes of payload length, 4 reserved bytes.
inline constexpr std::size_t kFrameHeaderSize = 13;

// The data item that sends value under key for zabbix_host at the moment at:
// {"host":...,"key":...,"value":...,"clock":...,"ns":...}, the value as the
// text a person reads in the debug report; none when a text is not valid UTF-8.
std::optional<std::string> sender_item(const std::string& zabbix_host, const std::string& key, const Json& value,
                                       Timestamp at);

// The whole request frame for data items joined by ",", stamped with the
// moment it is sent so that the server can correct the items' clocks for the
// difference between its clock and ours.
std::string sender_frame(const std::string& items, Timestamp sent_at);

// The payload size a reply's header announces, after checking that the header
// is a whole Zabbix frame header of a believable size.
std::uint32_t reply_size(const std::string& header, const ZabbixWhere& where);

// Fails unless payload holds the announced size.
void check_payload_size(const std::string& payload, std::uint32_t size, const ZabbixWhere& where);

// The answer in a reply's payload: how many values were refused, or a failure
// when the server answered anything but "success".
SendResult read_answer(const std::string& payload, const ZabbixWhere& where);

// The answer in the bytes a server sent back for one request (frame header
// and payload; bytes after the announced payload are ignored), with the same
// failures.
SendResult parse_sender_reply(const std::string& reply, const ZabbixWhere& where);

}  // namespace support
