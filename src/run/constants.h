#pragma once
// Constants every part of the program shares.
#include <string_view>

#ifndef BMC_PROBE_RUNTIME_LIMIT
#define BMC_PROBE_RUNTIME_LIMIT 900
#endif

namespace run {

inline constexpr std::string_view VERSION = "1.0.1";
// Bound on the whole run, in seconds. Test builds may shorten it at compile time.
inline constexpr int RUNTIME_LIMIT = BMC_PROBE_RUNTIME_LIMIT;
// Time the logout may take past that bound when the bound cut off a run
// that had logged in, in seconds.
inline constexpr int LOGOUT_GRACE = 5;

inline constexpr std::string_view RED = "\x1b[1;31m";
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view RESET = "\x1b[0;0m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";

inline constexpr std::string_view SUPPORT_EMAIL = "suporte@quorvane.com.br";
inline constexpr std::string_view SUPPORT_PHONE = "+55 11 4002-8922";

}  // namespace run
