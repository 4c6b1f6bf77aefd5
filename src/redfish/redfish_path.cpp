#include "redfish/redfish_path.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "redfish/service.h"

namespace redfish {
namespace {

// The segment with each "%2e"/"%2E" read as the dot it encodes.
std::string decoded_dots(std::string_view segment) {
    std::string decoded;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size() && segment[i + 1] == '2' &&
            (segment[i + 2] == 'e' || segment[i + 2] == 'E')) {
            decoded += '.';
            i += 2;
        } else {
            decoded += segment[i];
        }
    }
    return decoded;
}

bool is_dot(std::string_view decoded) { return decoded == "." || decoded == ".."; }

// Bytes and encodings after which servers disagree on where a segment ends.
bool unsafe(std::string_view path) {
    if (std::any_of(path.begin(), path.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f || c == '\\'; }))
        return true;
    std::string lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find("%2f") != std::string::npos || lower.find("%5c") != std::string::npos ||
           lower.find("%00") != std::string::npos;
}

std::vector<std::string_view> segments_of(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t start = 1;  // past the leading "/"
    while (true) {
        const auto end = path.find('/', start);
        segments.push_back(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return segments;
        start = end + 1;
    }
}

// remove_dot_segments for an absolute path; none when a segment is a dot
// segment with parameters ("..;x"), which some servers resolve as "..".
std::optional<std::string> without_dot_segments(std::string_view path) {
    std::vector<std::string_view> kept;
    bool ends_in_directory = false;
    for (const auto segment : segments_of(path)) {
        const std::string decoded = decoded_dots(segment);
        const auto parameters = decoded.find(';');
        if (parameters != std::string::npos && is_dot(decoded.substr(0, parameters))) return std::nullopt;
        ends_in_directory = is_dot(decoded);
        if (decoded == "..") {
            if (!kept.empty()) kept.pop_back();
        } else if (decoded != ".") {
            kept.push_back(segment);
        }
    }
    std::string resolved;
    for (const auto segment : kept) resolved += "/" + std::string(segment);
    if (ends_in_directory || resolved.empty()) resolved += "/";
    return resolved;
}

}  // namespace

std::string link_path(std::string_view link) {
    const auto scheme_end = link.find("://");
    if (scheme_end == std::string_view::npos || link.find('/') < scheme_end) return std::string(link);
    const auto path_start = link.find_first_of("/?", scheme_end + 3);
    if (path_start == std::string_view::npos) return "/";
    const std::string rest(link.substr(path_start));
    return rest.front() == '?' ? "/" + rest : rest;
}

std::optional<std::string> redfish_tree_path(std::string_view path) {
    if (path.empty() || path.front() != '/' || unsafe(path)) return std::nullopt;
    const auto query_start = path.find('?');
    const auto resolved = without_dot_segments(path.substr(0, query_start));
    if (!resolved) return std::nullopt;
    const std::string root(kServiceRoot);
    if (*resolved != root && resolved->rfind(root + "/", 0) != 0) return std::nullopt;
    return *resolved + std::string(query_start == std::string_view::npos ? "" : path.substr(query_start));
}

}  // namespace redfish
