#pragma once
// The paths the probe may ask of a BMC: a link the BMC sent (an @odata.id, a
// session collection, a login's Location) cut to its path, and kept only when
// it stays under /redfish/v1 once the BMC has resolved its dot segments.
#include <optional>
#include <string>
#include <string_view>

namespace redfish {

// The path (and query) a link names: itself when it is a path, the part after
// the authority when it is a full URL ("https://host:port/path?query").
std::string link_path(std::string_view link);

// path as a server resolves it (RFC 3986 remove_dot_segments, "%2e" and "%2E"
// counted as dots), query kept; none when that leaves /redfish/v1, or when
// path holds a blank, a control character, a backslash or an encoded slash,
// backslash or NUL, which servers resolve in ways of their own.
std::optional<std::string> redfish_tree_path(std::string_view path);

}  // namespace redfish
