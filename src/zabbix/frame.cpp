#include "zabbix/frame.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>

#include "support/failure.h"
#include "support/shown_text.h"
#include "support/text.h"
#include "support/utf8.h"
#include "support/value_text.h"

namespace zabbix {
namespace {

constexpr unsigned char protocol_flag = 0x01;
// The answer to a request is about a hundred bytes, however many values it
// carried; a length field far beyond that is a corrupt or foreign frame,
// refused before anything is allocated.
constexpr std::uint32_t max_reply_size = 64 * 1024;
constexpr std::size_t shown_reply_size = 200;

std::string frame(const std::string& payload) {
    std::string bytes = "ZBXD";
    bytes += static_cast<char>(protocol_flag);
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((size >> shift) & 0xFF);
    bytes.append(4, '\0');
    return bytes + payload;
}

std::string hex_text(const std::string& bytes) {
    std::string text;
    for (const unsigned char byte : bytes) {
        if (!text.empty()) text += ' ';
        support::append_hex(text, byte, 2);
    }
    return text;
}

std::uint32_t announced_size(const std::string& header) {
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(header[5 + i]);
    return size;
}

// "processed: 21; failed: 2; ..." counts the refused values of a request.
std::uint64_t failed_count(const std::string& info) {
    const auto at = info.find("failed: ");
    if (at == std::string::npos) return 0;
    std::uint64_t failed = 0;
    const auto [end, error] = std::from_chars(info.data() + at + 8, info.data() + info.size(), failed);
    if (error == std::errc::result_out_of_range) return UINT64_MAX;
    return error == std::errc{} ? failed : 0;
}

bool plain(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
}

// Appends text as a JSON string, as zabbix_sender writes it: UTF-8 as it is,
// quotes, backslashes and control characters escaped. Written by hand because
// it runs three times per value and over every discovery document; false when
// text is not valid UTF-8.
bool append_quoted(std::string& out, std::string_view text) {
    out += '"';
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end) {
        const char* run = at;
        while (at < end && plain(*at)) ++at;
        out.append(run, static_cast<std::size_t>(at - run));
        if (at == end) break;
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x80) {
            std::size_t next = static_cast<std::size_t>(at - text.data());
            const std::size_t lead = next;
            if (support::next_code_point(text, next) == support::kReplacementCharacter && next - lead == 1)
                return false;
            out.append(at, next - lead);
            at = text.data() + next;
            continue;
        }
        ++at;
        switch (byte) {
            case '"': out.append("\\\"", 2); break;
            case '\\': out.append("\\\\", 2); break;
            case '\n': out.append("\\n", 2); break;
            case '\r': out.append("\\r", 2); break;
            case '\t': out.append("\\t", 2); break;
            case '\b': out.append("\\b", 2); break;
            case '\f': out.append("\\f", 2); break;
            default: out.append("\\u00", 4); support::append_hex(out, byte, 2);
        }
    }
    out += '"';
    return true;
}

// Appends ,"name":number.
void append_number(std::string& out, const char* name, std::int64_t number) {
    char digits[24];
    const char* const end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out += name;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

// Zabbix's text as a message shows it: on one line, so that nothing it holds
// reads as a line of our own, such as the "OK" of a good run.
std::string shown(const std::string& text) { return support::shown_text(text, shown_reply_size); }

// The payload size a reply's header announces, after checking that the header
// is a whole Zabbix frame header of a believable size.
std::uint32_t reply_size(const std::string& header, const ZabbixWhere& where) {
    if (header.empty()) zabbix_failure(where, "the server closed the connection without a reply");
    if (header.compare(0, 4, "ZBXD", 0, std::min<std::size_t>(4, header.size())) != 0 ||
        (header.size() > 4 && static_cast<unsigned char>(header[4]) != protocol_flag))
        zabbix_failure(where, "the reply is not a Zabbix frame (it begins " + hex_text(header) + ")");
    if (header.size() < kFrameHeaderSize)
        zabbix_failure(where,
                       "connection dropped after " + std::to_string(header.size()) + " bytes of the reply header");
    const std::uint32_t size = announced_size(header);
    if (size > max_reply_size)
        zabbix_failure(where, "the reply announces " + std::to_string(size) + " bytes, more than the " +
                                  std::to_string(max_reply_size) + " a reply may have");
    return size;
}

void check_payload_size(const std::string& payload, std::uint32_t size, const ZabbixWhere& where) {
    if (payload.size() < size)
        zabbix_failure(where, "connection dropped after " + std::to_string(payload.size()) + " of " +
                                  std::to_string(size) + " bytes of the reply");
}

// The answer in a reply's payload: how many values were refused, or a failure
// when the server answered anything but "success".
SendResult read_answer(const std::string& payload, const ZabbixWhere& where) {
    const support::Json reply = support::Json::parse(payload, nullptr, false);
    if (reply.is_discarded() || !reply.is_object())
        zabbix_failure(where, "the reply is not a JSON object: " + shown(payload));
    const auto response = reply.find("response");
    if (response == reply.end() || !response->is_string())
        zabbix_failure(where, "the reply has no \"response\": " + shown(payload));
    const auto info = reply.find("info");
    const std::string info_text = info != reply.end() && info->is_string() ? info->get<std::string>() : "";
    if (*response != "success")
        zabbix_failure(where, "the server answered \"" + shown(response->get<std::string>()) + "\"" +
                                  (info_text.empty() ? "" : ": " + shown(info_text)));
    return SendResult{failed_count(info_text), shown(info_text)};
}
}  // namespace

std::string where_text(const ZabbixWhere& where) {
    const std::string server = "Zabbix server " + where.server + ", ";
    if (where.values <= 1) return server + "key \"" + shown(where.first_key) + "\"";
    return server + std::to_string(where.values) + " values from key \"" + shown(where.first_key) + "\" to \"" +
           shown(where.last_key) + "\"";
}

std::string failure_reason(const std::string& message, const ZabbixWhere& where) {
    const std::string prefix = where_text(where) + ": ";
    return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

void zabbix_failure(const ZabbixWhere& where, const std::string& why) {
    throw support::Failure(support::FailureKind::ZabbixError, where_text(where) + ": " + why);
}

std::optional<std::string> sender_item(const std::string& zabbix_host, const std::string& key,
                                       const support::Json& value, Timestamp at) {
    // A text, a discovery document too, goes as it is, without a copy.
    const std::string other = value.is_string() ? std::string() : support::value_text(value);
    const std::string_view text = value.is_string() ? std::string_view(value.get_ref<const std::string&>()) : other;
    std::string item;
    item.reserve(80 + zabbix_host.size() + key.size() + text.size() + text.size() / 4);
    item += "{\"host\":";
    if (!append_quoted(item, zabbix_host)) return std::nullopt;
    item += ",\"key\":";
    if (!append_quoted(item, key)) return std::nullopt;
    item += ",\"value\":";
    if (!append_quoted(item, text)) return std::nullopt;
    append_number(item, ",\"clock\":", at.sec);
    append_number(item, ",\"ns\":", at.ns);
    item += '}';
    return item;
}

std::string sender_frame(const std::string& items, Timestamp sent_at) {
    return frame("{\"request\":\"sender data\",\"data\":[" + items + "],\"clock\":" + std::to_string(sent_at.sec) +
                 ",\"ns\":" + std::to_string(sent_at.ns) + "}");
}

SendResult read_reply(const ReceiveUpTo& receive_up_to, const ZabbixWhere& where) {
    const std::uint32_t size = reply_size(receive_up_to(kFrameHeaderSize), where);
    const std::string payload = receive_up_to(size);
    check_payload_size(payload, size, where);
    return read_answer(payload, where);
}

}  // namespace zabbix
