#pragma once
// What every part of the program shares: its version, the logout's grace,
// the report's colours and where support is.
#include <string_view>

namespace support {

inline constexpr std::string_view VERSION = "1.0.1";
// Time the logout may take past the run's bound when the bound cut off a run
// that had logged in, in seconds.
inline constexpr int LOGOUT_GRACE = 5;

inline constexpr std::string_view RED = "\x1b[1;31m";
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view RESET = "\x1b[0;0m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";

inline constexpr std::string_view SUPPORT_EMAIL = "suporte@quorvane.com.br";
inline constexpr std::string_view SUPPORT_PHONE = "+55 11 4002-8922";

}  // namespace support
