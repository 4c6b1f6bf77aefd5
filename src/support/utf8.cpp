#include "support/utf8.h"

namespace support {
namespace {

std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead >> 5) == 0x6) return 2;
    if ((lead >> 4) == 0xE) return 3;
    if ((lead >> 3) == 0x1E) return 4;
    return 0;
}

}  // namespace

std::uint32_t next_code_point(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = sequence_length(lead);
    if (length == 0 || at + length > text.size()) {
        ++at;
        return kReplacementCharacter;
    }
    std::uint32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return kReplacementCharacter;
        }
        cp = (cp << 6) | (next & 0x3Fu);
    }
    static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++at;
        return kReplacementCharacter;
    }
    at += length;
    return cp;
}

std::string valid_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t start = at;
        const std::uint32_t cp = next_code_point(bytes, at);
        const bool replaced = cp == kReplacementCharacter && bytes.compare(start, 3, "\xEF\xBF\xBD") != 0;
        if (replaced) out += "\xEF\xBF\xBD";
        else out.append(bytes.substr(start, at - start));
    }
    return out;
}

}  // namespace support
