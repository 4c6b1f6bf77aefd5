#include "support/real_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace support {
namespace {

std::string non_finite_text(double value, NonFinite style) {
    if (std::isnan(value)) return style == NonFinite::Json ? "NaN" : "nan";
    const bool negative = value < 0;
    if (style == NonFinite::Json) return negative ? "-Infinity" : "Infinity";
    return negative ? "-inf" : "inf";
}

struct ShortestDigits {
    bool negative;
    std::string digits;  // no leading zeros except for zero itself
    int exponent;        // value = d.ddd x 10^exponent
};

ShortestDigits shortest_digits(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    ShortestDigits out{false, {}, 0};
    if (!text.empty() && text.front() == '-') {
        out.negative = true;
        text.remove_prefix(1);
    }
    const auto e_at = text.find('e');
    for (char c : text.substr(0, e_at))
        if (c != '.') out.digits.push_back(c);
    std::string_view exponent = text.substr(e_at + 1);
    if (!exponent.empty() && exponent.front() == '+') exponent.remove_prefix(1);
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), out.exponent);
    return out;
}

std::string positional(const ShortestDigits& d) {
    const int count = static_cast<int>(d.digits.size());
    if (d.exponent < 0) return "0." + std::string(static_cast<std::size_t>(-d.exponent - 1), '0') + d.digits;
    const int integer_digits = d.exponent + 1;
    if (count <= integer_digits)
        return d.digits + std::string(static_cast<std::size_t>(integer_digits - count), '0') + ".0";
    std::string text = d.digits.substr(0, static_cast<std::size_t>(integer_digits));
    text += '.';
    text.append(d.digits, static_cast<std::size_t>(integer_digits));
    return text;
}

std::string scientific(const ShortestDigits& d) {
    std::string text = d.digits.substr(0, 1);
    if (d.digits.size() > 1) {
        text += '.';
        text.append(d.digits, 1);
    }
    const int magnitude = std::abs(d.exponent);
    text += d.exponent < 0 ? "e-" : "e+";
    if (magnitude < 10) text += '0';
    return text + std::to_string(magnitude);
}

}  // namespace

std::string real_text(double value, NonFinite style) {
    if (!std::isfinite(value)) return non_finite_text(value, style);
    const ShortestDigits d = shortest_digits(value);
    const bool is_zero = value == 0.0;
    const std::string body = (is_zero || (d.exponent >= -4 && d.exponent <= 15)) ? positional(d) : scientific(d);
    return d.negative ? "-" + body : body;
}

}  // namespace support
