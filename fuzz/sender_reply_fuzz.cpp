// The Zabbix reply reader: any bytes give an answer or a ZabbixError naming
// the server and the key, never anything else, and nothing of the reply
// breaks the line a message or the answer's info is shown on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/failure.h"
#include "zabbix/frame.h"

namespace {

bool one_line(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

[[noreturn]] void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", what, text.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::size_t read = 0;
    const auto receive = [&](std::size_t wanted) {
        std::string part = reply.substr(read, wanted);
        read += part.size();
        return part;
    };
    try {
        const auto answer = zabbix::read_reply(receive, {"127.0.0.1:10051", "storageHealth", "storageHealth", 1});
        if (!one_line(answer.info)) fail("info on more than one line", answer.info);
    } catch (const support::Failure& failure) {
        const std::string message = failure.what();
        if (failure.kind != support::FailureKind::ZabbixError ||
            message.rfind("Zabbix server 127.0.0.1:10051, key \"storageHealth\": ", 0) != 0)
            fail(("unexpected failure: " + std::string(support::kind_name(failure.kind))).c_str(), message);
        if (!one_line(message)) fail("message on more than one line", message);
    }
    return 0;
}
