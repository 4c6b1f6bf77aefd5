#include "zabbix/server.h"

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/failure.h"
#include "support/text.h"

namespace zabbix {
namespace {

constexpr int max_include_depth = 10;
constexpr std::size_t min_psk_hex_digits = 32;   // 128-bit key, Zabbix's minimum
constexpr std::size_t max_psk_hex_digits = 512;  // 2048-bit key, Zabbix's maximum
constexpr std::size_t max_psk_identity_bytes = 128;

const char* const agent_configs[] = {"/etc/zabbix/zabbix_agentd.conf", "/etc/zabbix/zabbix_agent2.conf"};

// The parameters this program reads; the agent's other settings are skipped.
const char* const wanted_parameters[] = {"ServerActive", "TLSConnect", "TLSPSKIdentity", "TLSPSKFile"};

using Parameters = std::map<std::string, std::string>;

[[noreturn]] void config_failure(const std::string& message) {
    throw support::Failure(support::FailureKind::ZabbixConfig, message);
}

std::string trim(std::string_view text, std::string_view blanks) { return std::string(support::trimmed(text, blanks)); }

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

bool is_wanted(const std::string& parameter) {
    return std::find(std::begin(wanted_parameters), std::end(wanted_parameters), parameter) !=
           std::end(wanted_parameters);
}

void read_config_file(const std::string& path, Parameters& into, int depth);

// Include= names a file, a folder (every regular file in it) or a folder with a
// file-name pattern, as the agent reads it.
void read_include(const std::string& config, const std::string& pattern, Parameters& into, int depth) {
    if (depth >= max_include_depth)
        config_failure(config + ": Include nested more than " + std::to_string(max_include_depth) + " levels deep");
    std::error_code error;
    if (std::filesystem::is_directory(pattern, error)) {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(pattern, error))
            if (entry.is_regular_file()) files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        for (const auto& file : files) read_config_file(file, into, depth + 1);
        return;
    }
    glob_t matches{};
    const int status = glob(pattern.c_str(), 0, nullptr, &matches);
    std::vector<std::string> files(matches.gl_pathv, matches.gl_pathv + matches.gl_pathc);
    globfree(&matches);
    if (status == GLOB_NOMATCH && pattern.find_first_of("*?[") != std::string::npos) return;
    if (status != 0) config_failure(config + ": Include=" + pattern + " names nothing that can be read");
    for (const auto& file : files)
        if (std::filesystem::is_regular_file(file, error)) read_config_file(file, into, depth + 1);
}

// The agent's rules: blanks around the line and after "=" dropped, "#" starts a
// comment line, and a parameter given twice keeps its last value.
void read_config_file(const std::string& path, Parameters& into, int depth) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) config_failure(path + ": not a regular file");
    std::ifstream file(path);
    if (!file) config_failure(path + ": cannot be read");
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = trim(line, " \t\r\n");
        if (line.empty() || line.front() == '#') continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            config_failure(path + ", line " + std::to_string(number) + ": not of the form Parameter=value");
        const std::string parameter = trim(line.substr(0, equals), " \t");
        const std::string value = trim(line.substr(equals + 1), " \t");
        if (parameter == "Include") read_include(path, value, into, depth);
        else if (is_wanted(parameter)) into[parameter] = value;
    }
    if (file.bad()) config_failure(path + ": cannot be read");
}

int parse_port(const std::string& text, const std::string& where) {
    const bool digits = !text.empty() && text.size() <= 5 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int port = digits ? std::stoi(text) : 0;
    if (port < 1 || port > 65535) config_failure(where + ": \"" + text + "\" is not a port number");
    return port;
}

// host, host:port, [IPv6] or [IPv6]:port; an IPv6 address without brackets
// (more than one ':') has no port.
ZabbixEndpoint parse_endpoint(const std::string& entry, const std::string& where) {
    const std::string text = trim(entry, " \t");
    ZabbixEndpoint endpoint{text, kDefaultPort};
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) config_failure(where + ": \"" + text + "\" lacks its closing ']'");
        endpoint.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') config_failure(where + ": \"" + text + "\" has text after ']'");
            endpoint.port = parse_port(rest.substr(1), where);
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const auto colon = text.find(':');
        endpoint.host = text.substr(0, colon);
        endpoint.port = parse_port(text.substr(colon + 1), where);
    }
    if (endpoint.host.empty()) config_failure(where + ": \"" + text + "\" names no host");
    return endpoint;
}

// "," separates independent servers (the first is used), ";" the nodes of one
// high-availability cluster (all kept, in order).
std::vector<ZabbixEndpoint> parse_server_list(const std::string& value, const std::string& where) {
    const std::string first_server = trim(value.substr(0, value.find(',')), " \t");
    if (first_server.empty()) config_failure(where + ": no server address in \"" + value + "\"");
    std::vector<ZabbixEndpoint> nodes;
    std::size_t start = 0;
    while (true) {
        const auto end = first_server.find(';', start);
        nodes.push_back(parse_endpoint(first_server.substr(start, end - start), where));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return nodes;
}

// The key is never part of a message: only its file and what is wrong with it.
std::string read_psk_key(const std::string& config, const std::string& key_file) {
    std::ifstream file(key_file);
    std::string key;
    if (!file || !std::getline(file, key)) config_failure(config + ": TLSPSKFile " + key_file + " cannot be read");
    key = trim(key, " \t\r\n");
    if (key.size() < min_psk_hex_digits || key.size() > max_psk_hex_digits || key.size() % 2 != 0 ||
        !support::is_hex(key))
        config_failure(config + ": TLSPSKFile " + key_file + " does not hold a PSK of " +
                       std::to_string(min_psk_hex_digits) + " to " + std::to_string(max_psk_hex_digits) +
                       " hexadecimal digits (an even count)");
    return key;
}

std::optional<ZabbixPsk> parse_psk(const std::string& config, const Parameters& parameters) {
    const auto connect = parameters.find("TLSConnect");
    if (connect == parameters.end() || connect->second == "unencrypted") return std::nullopt;
    if (connect->second == "cert")
        config_failure(config + ": TLSConnect=cert: certificate-based TLS is not supported, only psk");
    if (connect->second != "psk")
        config_failure(config + ": TLSConnect=" + connect->second + " is not one of unencrypted, psk, cert");
    const auto identity = parameters.find("TLSPSKIdentity");
    if (identity == parameters.end() || identity->second.empty())
        config_failure(config + ": TLSConnect=psk needs TLSPSKIdentity");
    if (identity->second.size() > max_psk_identity_bytes)
        config_failure(config + ": TLSPSKIdentity is longer than " + std::to_string(max_psk_identity_bytes) + " bytes");
    const auto key_file = parameters.find("TLSPSKFile");
    if (key_file == parameters.end() || key_file->second.empty())
        config_failure(config + ": TLSConnect=psk needs TLSPSKFile");
    return ZabbixPsk{identity->second, read_psk_key(config, key_file->second)};
}

std::optional<std::string> config_in_use(const ZabbixServerSources& sources) {
    if (sources.config_path) return sources.config_path;
    for (const auto& path : sources.default_configs) {
        std::error_code error;
        if (std::filesystem::exists(path, error)) return path;
    }
    return std::nullopt;
}

}  // namespace

ZabbixServer zabbix_server_from(const ZabbixServerSources& sources) {
    ZabbixServer server{{{"127.0.0.1", kDefaultPort}}, std::nullopt};
    const auto config = config_in_use(sources);
    if (config) {
        Parameters parameters;
        read_config_file(*config, parameters, 0);
        if (!sources.server_override) {
            const auto active = parameters.find("ServerActive");
            if (active == parameters.end()) config_failure(*config + ": no ServerActive line names the Zabbix server");
            server.nodes = parse_server_list(active->second, *config + ": ServerActive");
        }
        server.psk = parse_psk(*config, parameters);
    }
    if (sources.server_override) server.nodes = parse_server_list(*sources.server_override, "BMC_PROBE_ZABBIX_SERVER");
    return server;
}

ZabbixServer obtain_zabbix_server() {
    return zabbix_server_from({environment("BMC_PROBE_ZABBIX_SERVER"),
                               environment("BMC_PROBE_ZABBIX_CONFIG"),
                               {std::begin(agent_configs), std::end(agent_configs)}});
}

std::string endpoint_text(const ZabbixEndpoint& endpoint) {
    const bool ipv6 = endpoint.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + endpoint.host + "]" : endpoint.host) + ":" + std::to_string(endpoint.port);
}

std::string server_text(const ZabbixServer& server) {
    std::string text;
    for (const auto& node : server.nodes) text += (text.empty() ? "" : ";") + endpoint_text(node);
    return text;
}

}  // namespace zabbix
