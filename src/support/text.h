#pragma once
// Small text helpers shared by the parsers of headers and configuration files
// and by the writers of escaped text.
#include <cstdint>
#include <string>
#include <string_view>

namespace support {

// text without the blanks at either end.
inline std::string_view trimmed(std::string_view text, std::string_view blanks = " \t\r\n") {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Appends the last digits hexadecimal digits of value, in lower case.
inline void append_hex(std::string& out, std::uint32_t value, int digits) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

}  // namespace support
