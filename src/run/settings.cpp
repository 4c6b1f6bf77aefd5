#include "run/settings.h"

#include <cstring>

#include "support/failure.h"

namespace run {

std::optional<RunSettings> parse_command_line(int argc, char** argv) {
    const int count = argc - 1;
    if (count == 1) return RunSettings{argv[1], {}, {}, {}, {}, std::nullopt, std::nullopt};
    if (count == 2 && std::strcmp(argv[1], "fleet") == 0)
        return RunSettings{argv[1], {}, {}, {}, {}, std::nullopt, std::nullopt, std::string(argv[2])};
    if (count != 6) return std::nullopt;
    RunSettings settings{argv[1], argv[2], argv[3], argv[4], argv[5], std::string(argv[6]), std::nullopt};
    std::memset(argv[5], 0, std::strlen(argv[5]));
    return settings;
}

const std::string& required_zabbix_host(const RunSettings& settings) {
    if (!settings.zabbix_host)
        throw support::Failure(support::FailureKind::MissingSetting,
                               "zabbix_host is not set: the one-argument form serves only \"version\"");
    return *settings.zabbix_host;
}

}  // namespace run
