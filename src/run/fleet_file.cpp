#include "run/fleet_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "run/bmc_arguments.h"
#include "run/dispatch.h"
#include "support/failure.h"
#include "support/shown_text.h"
#include "support/text.h"
#include "support/utf8.h"

namespace run {
namespace {

using support::Failure;
using support::FailureKind;

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) fields.push_back(word);
    return fields;
}

bool has_control_character(std::string_view text) {
    for (const char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}

// Why the line is not a BMC, empty when it is one. The line is never quoted:
// it may hold a password.
std::string line_fault(const std::vector<std::string>& fields, const std::string& line) {
    if (has_control_character(line)) return "a control character in the line";
    if (support::valid_utf8(line) != line) return "the line is not valid UTF-8";
    if (fields.size() < 5 || fields.size() > 6)
        return std::to_string(fields.size()) +
               " fields, not the 5 of \"<zabbix_host> <mode> <url_base> <user> <password>\" (and a certificate check)";
    if (collection_mode(fields[1]) == nullptr)
        return "no mode \"" + support::shown_text(fields[1]) + "\" (discoveryOpenBMC, discoveryRedfish)";
    if (fields[0] == "debug") return "the Zabbix host \"debug\" would print a report: a fleet only delivers";
    if (fields.size() == 6) {
        if (fields[5].rfind("cert-", 0) != 0) return "a sixth field is a certificate check (cert-sha256:, cert-ca:)";
        try {
            (void)certificate_check_of(fields[5]);
        } catch (const Failure& failure) {
            return failure.what();
        }
    }
    return {};
}

}  // namespace

std::vector<FleetBmc> read_fleet_file(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        throw Failure(FailureKind::UnreadableFile,
                      "the fleet file " + support::shown_text(path) + ": " + std::strerror(errno));
    std::vector<FleetBmc> bmcs;
    std::map<std::string, int> line_of_host;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view text = support::trimmed(line, " \t");
        if (text.empty() || text.front() == '#') continue;
        const auto fields = fields_of(line);
        std::string why = line_fault(fields, line);
        if (why.empty())
            if (const auto seen = line_of_host.find(fields[0]); seen != line_of_host.end())
                why = "the Zabbix host \"" + support::shown_text(fields[0]) + "\" is already on line " +
                      std::to_string(seen->second);
        if (!why.empty()) throw Failure(FailureKind::InvalidSetting, path + ":" + std::to_string(number) + ": " + why);
        line_of_host[fields[0]] = number;
        bmcs.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields.size() == 6 ? fields[5] : ""});
    }
    if (file.bad())
        throw Failure(FailureKind::UnreadableFile,
                      "the fleet file " + support::shown_text(path) + ": " + std::strerror(errno));
    return bmcs;
}

}  // namespace run
