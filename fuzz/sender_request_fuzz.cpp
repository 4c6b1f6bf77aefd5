// Gathering values into sender requests and framing them: every value that
// can go on the wire arrives once, in call order within its kind, in requests
// of at most 250 values and 1 MiB of items (a bigger value alone), and each
// frame parses back to the same hosts, keys, values and ever later moments.
// Text that is not valid UTF-8 gives no item, and only such text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "zabbix/batch.h"
#include "zabbix/frame.h"

namespace {

using support::Json;
using zabbix::Refusal;

struct Sent {
    Refusal refusal;
    std::string key;
    std::string value;
};

// Whether the JSON library takes text as UTF-8.
bool utf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// Records separated by '\n': the first byte's low bit picks the kind, the rest
// is key '=' value.
std::vector<Sent> records(const std::string& input) {
    std::vector<Sent> sent;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string record = input.substr(start, end - start);
        start = end + 1;
        if (record.empty()) continue;
        const std::string rest = record.substr(1);
        const auto equals = rest.find('=');
        sent.push_back({(record[0] & 1) ? Refusal::Expected : Refusal::Counts, rest.substr(0, equals),
                        equals == std::string::npos ? "" : rest.substr(equals + 1)});
    }
    return sent;
}

void check_request(const zabbix::GatheredRequest& request, const std::vector<Sent>& of_kind, std::size_t& next) {
    check(!request.keys.empty() && request.keys.size() <= zabbix::kMaxRequestValues, "values per request");
    check(request.keys.size() == 1 || request.items.size() <= zabbix::kMaxRequestBytes, "bytes per request");
    const std::string frame = zabbix::sender_frame(request.items, {1700000001, 0});
    const std::string payload = frame.substr(zabbix::kFrameHeaderSize);
    std::uint32_t announced = 0;
    for (int i = 3; i >= 0; --i) announced = (announced << 8) | static_cast<unsigned char>(frame[5 + i]);
    check(frame.compare(0, 5, "ZBXD\x01") == 0 && announced == payload.size(), "frame header");
    const Json parsed = Json::parse(payload);
    check(parsed["request"] == "sender data" && parsed["data"].size() == request.keys.size(), "request shape");
    for (const auto& item : parsed["data"]) {
        check(next < of_kind.size(), "more values than were sent");
        const Sent& sent = of_kind[next++];
        check(item["host"] == "fuzz-host" && item["key"] == sent.key && item["value"] == sent.value, "value");
        const auto ns = item["ns"].get<std::int64_t>();
        check(item["clock"].get<std::int64_t>() >= 1700000000 && ns >= 0 && ns < 1'000'000'000, "moment");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zabbix::Gathered gathered;
    std::vector<Sent> kept;
    std::vector<std::pair<std::int64_t, std::int64_t>> moments;
    for (const auto& record : records(std::string(reinterpret_cast<const char*>(data), size))) {
        const zabbix::Timestamp at = zabbix::next_moment(gathered, {1700000000, 999'999'990});
        check(moments.empty() || std::pair(at.sec, at.ns) > moments.back(), "moments in call order");
        moments.emplace_back(at.sec, at.ns);
        const auto item = zabbix::sender_item("fuzz-host", record.key, Json(record.value), at);
        check(item.has_value() == (utf8(record.key) && utf8(record.value)), "only text that is not UTF-8 is refused");
        if (!item) continue;
        zabbix::gather(gathered, record.refusal, record.key, *item);
        kept.push_back(record);
    }
    for (const Refusal refusal : {Refusal::Counts, Refusal::Expected}) {
        std::vector<Sent> of_kind;
        for (const auto& sent : kept)
            if (sent.refusal == refusal) of_kind.push_back(sent);
        std::size_t next = 0;
        for (const auto& request : gathered.requests)
            if (request.refusal == refusal) check_request(request, of_kind, next);
        check(next == of_kind.size(), "every value sent once");
    }
    return 0;
}
