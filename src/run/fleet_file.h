#pragma once
// The fleet file: one BMC a line, its fields separated by blanks,
//   <zabbix_host> <mode> <url_base> <user> <password> [<certificate check>]
// each as the one-shot command line takes it (the password in any of its
// forms, the certificate check as the host argument's cert-sha256: or
// cert-ca:). Blank lines and lines whose first non-blank is "#" are skipped.
#include <string>
#include <vector>

namespace run {

struct FleetBmc {
    std::string zabbix_host;
    std::string mode;
    std::string url_base;
    std::string user;
    std::string pwd;          // as written: a file: or credential: form is read at each run
    std::string certificate;  // the host argument of a one-shot run: empty, or a cert- form

    bool operator==(const FleetBmc& other) const = default;
};

// Every BMC of the file, in its order. A line that is not one raises the
// support::Failure InvalidSetting "FILE:LINE: why", a file that cannot be
// read UnreadableFile.
std::vector<FleetBmc> read_fleet_file(const std::string& path);

}  // namespace run
