#pragma once
// The Zabbix sender frame as the test-side peers (the test trapper, the
// benchmark's trapper and floor client) write and read it: "ZBXD", the flag
// 0x01, the payload length as 4 bytes little-endian, 4 reserved bytes, the
// payload. Written apart from the probe's own, so that a fault there cannot
// hide itself.
#include <cstdint>
#include <string>

namespace kit {

inline constexpr std::size_t kFrameHeaderSize = 13;

inline std::string frame(const std::string& payload) {
    std::string bytes = "ZBXD\x01";
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((size >> shift) & 0xFF);
    bytes.append(4, '\0');
    return bytes + payload;
}

// The payload length a 13-byte frame header announces.
inline std::uint32_t announced_size(const char* header) {
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(header[5 + i]);
    return size;
}

}  // namespace kit
