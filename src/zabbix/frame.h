#pragma once
// The Zabbix sender protocol's bytes, with no I/O: the data item of one value,
// the request frame that carries a run of them, and the reply read from the
// bytes a server sent back.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "support/json.h"

namespace zabbix {

struct SendResult {
    std::uint64_t failed;  // values Zabbix refused, from "failed: N" in its info
    std::string info;      // Zabbix's info text, as a message shows it (support::shown_text)
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
// "Zabbix server <server>, <n> values from key "<first>" to "<last>"", the
// keys (made of the BMC's names) as a message shows them.
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
std::optional<std::string> sender_item(const std::string& zabbix_host, const std::string& key,
                                       const support::Json& value, Timestamp at);

// The whole request frame for data items joined by ",", stamped with the
// moment it is sent so that the server can correct the items' clocks for the
// difference between its clock and ours.
std::string sender_frame(const std::string& items, Timestamp sent_at);

// Exactly size bytes of what the server sent, or fewer when it closed the
// connection first.
using ReceiveUpTo = std::function<std::string(std::size_t size)>;

// The answer to one request, read from what the server sent back: the frame
// header, checked to be a whole Zabbix header of a believable size, then the
// payload it announces (anything after it is left unread). A failure names
// where when the reply is not whole, not JSON or says anything but "success".
SendResult read_reply(const ReceiveUpTo& receive_up_to, const ZabbixWhere& where);

}  // namespace zabbix
