// The Zabbix reply parser: any bytes give an answer or a ZabbixError naming
// the server and the key, never anything else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/failure.h"
#include "support/zabbix_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    try {
        (void)support::parse_sender_reply(reply, {"127.0.0.1:10051", "storageHealth", "storageHealth", 1});
    } catch (const support::Failure& failure) {
        const std::string message = failure.what();
        if (failure.kind != support::FailureKind::ZabbixError ||
            message.rfind("Zabbix server 127.0.0.1:10051, key \"storageHealth\": ", 0) != 0) {
            std::fprintf(stderr, "unexpected failure: %s: %s\n", std::string(support::kind_name(failure.kind)).c_str(),
                         message.c_str());
            std::abort();
        }
    }
    return 0;
}
