#include "run/dispatch.h"

#include <exception>
#include <new>

#include "run/bmc_arguments.h"
#include "run/version_banner.h"
#include "support/launch.h"
#include "zabbix/server.h"

namespace run {
namespace {

support::RunOutcome dispatch(RunSettings& settings, const std::string& program_name, support::RunGuard& guard) {
    if (settings.mode == "version") return get_version(program_name);
    (void)required_zabbix_host(settings);  // fails when the command line has none
    settings.zabbix_server = zabbix::obtain_zabbix_server();
    if (const auto* mode = collection_mode(settings.mode)) {
        const health::CycleRequest request{bmc_access(settings), *settings.zabbix_host, *settings.zabbix_server};
        return mode->cycle(request, guard);
    }
    if (settings.mode.find("launch_") != std::string::npos) support::launch(settings.mode);
    support::check_deadline(guard);
    return support::finished();
}

support::RunOutcome interrupted(const support::Interrupted& interruption) {
    if (interruption.cause == support::Interrupted::Cause::Stop)
        return support::failed({support::FailureKind::Stopped, interruption.what()});
    return {0, std::nullopt, interruption.what()};
}

}  // namespace

const CollectionMode* collection_mode(std::string_view word) {
    for (const auto& mode : kCollectionModes)
        if (word == mode.word) return &mode;
    return nullptr;
}

support::RunOutcome guarded_outcome(const std::function<support::RunOutcome(support::RunGuard& guard)>& body,
                                    support::RunGuard& guard) {
    try {
        return body(guard);
    } catch (const support::Interrupted& interruption) {
        return interrupted(interruption);
    } catch (const support::Failure& failure) {
        return support::failed(failure);
    } catch (const std::bad_alloc&) {
        // Everything the run held is freed by now, so the report has room.
        return support::failed({support::FailureKind::OutOfMemory, "the system refused memory (std::bad_alloc)"});
    } catch (const std::exception& failure) {
        return support::failed({support::FailureKind::Error, failure.what()});
    }
}

support::RunOutcome run_modes(RunSettings& settings, const std::string& program_name, std::chrono::milliseconds limit,
                              const volatile std::sig_atomic_t* stop_signal) {
    support::RunGuard guard = support::run_guard(limit, stop_signal);
    return guarded_outcome([&](support::RunGuard& bounded) { return dispatch(settings, program_name, bounded); },
                           guard);
}

}  // namespace run
