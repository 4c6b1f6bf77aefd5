#include "support/shown_text.h"

#include "support/text.h"
#include "support/utf8.h"

namespace support {
namespace {

void append_escaped(std::string& out, std::uint32_t code_point) {
    switch (code_point) {
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        case '\\': out += "\\\\"; return;
        default: break;
    }
    out += "\\x";
    append_hex(out, code_point, 2);
}

bool is_control(std::uint32_t code_point) {
    return code_point < 0x20 || code_point == 0x7F || (code_point >= 0x80 && code_point < 0xA0) || code_point == '\\';
}

}  // namespace

std::string shown_text(std::string_view outside, std::size_t max_bytes) {
    std::string out;
    std::size_t at = 0;
    while (at < outside.size() && at < max_bytes) {
        const std::size_t start = at;
        const std::uint32_t code_point = next_code_point(outside, at);
        if (is_control(code_point)) append_escaped(out, code_point);
        else if (code_point == kReplacementCharacter) out += valid_utf8(outside.substr(start, at - start));
        else out.append(outside.substr(start, at - start));
    }
    if (at < outside.size()) out += "... (" + std::to_string(outside.size()) + " bytes in all)";
    return out;
}

}  // namespace support
