#pragma once
// Small text helpers shared by the parsers of headers and configuration files
// and by the writers of escaped text.
#include <algorithm>
#include <cctype>
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

enum class HexCase { Lower, Upper };

// Appends the last digits hexadecimal digits of value.
inline void append_hex(std::string& out, std::uint32_t value, int digits, HexCase letters = HexCase::Lower) {
    const char* hex_digits = letters == HexCase::Lower ? "0123456789abcdef" : "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += hex_digits[(value >> shift) & 0xF];
}

// Whether every character of text is a hexadecimal digit.
inline bool is_hex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// The bytes that pairs of hexadecimal digits write; text is_hex, of even length.
inline std::string hex_bytes(std::string_view text) {
    const auto digit = [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10;
    };
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(digit(text[i]) << 4 | digit(text[i + 1]));
    return bytes;
}

}  // namespace support
