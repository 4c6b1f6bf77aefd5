#include "support/json_text.h"

#include <cstdint>

#include "support/real_text.h"
#include "support/text.h"
#include "support/utf8.h"

namespace support {
namespace {

void append_u_escape(std::string& out, std::uint32_t unit) {
    out += "\\u";
    append_hex(out, unit, 4);
}

void append_code_point(std::string& out, std::uint32_t cp) {
    switch (cp) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        default: break;
    }
    if (cp >= 0x20 && cp < 0x7F) {
        out += static_cast<char>(cp);
    } else if (cp > 0xFFFF) {
        cp -= 0x10000;
        append_u_escape(out, 0xD800 + (cp >> 10));
        append_u_escape(out, 0xDC00 + (cp & 0x3FF));
    } else {
        append_u_escape(out, cp);
    }
}

void append_string(std::string& out, const std::string& text) {
    out += '"';
    for (std::size_t at = 0; at < text.size();) append_code_point(out, next_code_point(text, at));
    out += '"';
}

void append_value(std::string& out, const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: out += "null"; return;
        case Json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; return;
        case Json::value_t::number_integer: out += std::to_string(value.get<std::int64_t>()); return;
        case Json::value_t::number_unsigned: out += std::to_string(value.get<std::uint64_t>()); return;
        case Json::value_t::number_float: out += real_text(value.get<double>(), NonFinite::Json); return;
        case Json::value_t::string: append_string(out, value.get_ref<const std::string&>()); return;
        case Json::value_t::array: {
            out += '[';
            const char* separator = "";
            for (const auto& item : value) {
                out += separator;
                append_value(out, item);
                separator = ", ";
            }
            out += ']';
            return;
        }
        case Json::value_t::object: {
            out += '{';
            const char* separator = "";
            for (const auto& [name, member] : value.items()) {
                out += separator;
                append_string(out, name);
                out += ": ";
                append_value(out, member);
                separator = ", ";
            }
            out += '}';
            return;
        }
        case Json::value_t::binary:
        case Json::value_t::discarded: out += "null"; return;
    }
}

}  // namespace

std::string json_text(const Json& value) {
    std::string out;
    append_value(out, value);
    return out;
}

void append_json_text(std::string& out, const Json& value) { append_value(out, value); }

}  // namespace support
