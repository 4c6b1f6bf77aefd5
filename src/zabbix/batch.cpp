#include "zabbix/batch.h"

#include <algorithm>
#include <chrono>

namespace zabbix {
namespace {

constexpr std::int64_t ns_per_second = 1'000'000'000;

bool has_room(const GatheredRequest& request, const std::string& item) {
    return request.keys.size() < kMaxRequestValues && request.items.size() + 1 + item.size() <= kMaxRequestBytes;
}

bool later(Timestamp a, Timestamp b) { return a.sec > b.sec || (a.sec == b.sec && a.ns > b.ns); }

}  // namespace

void gather(Gathered& gathered, Refusal refusal, const std::string& key, const std::string& item) {
    auto& requests = gathered.requests;
    const auto open = std::find_if(requests.rbegin(), requests.rend(),
                                   [refusal](const GatheredRequest& request) { return request.refusal == refusal; });
    GatheredRequest* request = open != requests.rend() ? &*open : nullptr;
    if (request == nullptr || !has_room(*request, item))
        request = &requests.emplace_back(GatheredRequest{refusal, {}, {}});
    if (!request->items.empty()) request->items += ',';
    request->items += item;
    request->keys.push_back(key);
    request->ends.push_back(request->items.size());
}

std::string_view gathered_item(const GatheredRequest& request, std::size_t i) {
    const std::size_t begin = i == 0 ? 0 : request.ends[i - 1] + 1;  // past the ","
    return std::string_view(request.items).substr(begin, request.ends[i] - begin);
}

Timestamp clock_now() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    return {ns / ns_per_second, ns % ns_per_second};
}

Timestamp next_moment(Gathered& gathered, Timestamp now) {
    Timestamp next = now;
    if (!later(now, gathered.last)) {
        next = gathered.last;
        if (++next.ns == ns_per_second) next = {next.sec + 1, 0};
    }
    gathered.last = next;
    return next;
}

}  // namespace zabbix
