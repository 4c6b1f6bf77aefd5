#pragma once
// UTF-8 decoding that never fails: a byte that does not start a valid
// sequence stands for U+FFFD.
#include <cstdint>
#include <string>
#include <string_view>

namespace support {

inline constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

// Decodes the sequence at text[at] and moves at past it; an invalid byte is
// consumed alone and gives U+FFFD.
std::uint32_t next_code_point(std::string_view text, std::size_t& at);

// The text with every invalid sequence replaced by U+FFFD.
std::string valid_utf8(std::string_view bytes);

}  // namespace support
