#include "run/dispatch.h"

#include "run/version_banner.h"
#include "support/launch.h"
#include "support/runtime_limiter.h"

namespace run {
namespace {

void dispatch(RunSettings& settings, const std::string& program_name) {
    if (settings.mode == "version") get_version(program_name);
    settings.zabbix_server = support::obtain_zabbix_server(required_zabbix_host(settings));
    for (const auto& mode : kCollectionModes)
        if (settings.mode == mode.word) mode.cycle(settings, *settings.zabbix_server);
    if (settings.mode.find("launch_") != std::string::npos) support::launch(settings.mode);
}

}  // namespace

void run_modes(RunSettings& settings, const std::string& program_name, std::chrono::milliseconds limit) {
    auto guard = support::runtime_limiter(limit);
    support::run_bounded(guard, [&] { dispatch(settings, program_name); });
}

}  // namespace run
