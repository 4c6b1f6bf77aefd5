#include "zabbix/shared_sender.h"

#include <algorithm>
#include <exception>

#include "support/failure.h"
#include "support/log.h"
#include "support/run_guard.h"
#include "support/shown_text.h"
#include "zabbix/link.h"

namespace zabbix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFlushEvery = std::chrono::seconds(1);
constexpr auto kRetryEvery = std::chrono::seconds(5);
constexpr auto kLogEvery = std::chrono::minutes(1);
// One request's exchange, at most; a server that takes longer counts as unreachable.
constexpr auto kRequestLimit = std::chrono::seconds(15);

void log(const std::string& text) { support::log_line("bmc-probe: fleet: " + text); }

struct Attempt {
    enum class End { Sent, Unreachable, Lost } end;
    SendResult result{};
    std::string why{};
};

// A request that could not even be connected can go again later; one that
// went out cannot, since Zabbix may have stored its values.
Attempt attempt_request(ZabbixLink& link, const GatheredRequest& request, Clock::time_point by) {
    const auto limit = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(by - Clock::now()),
                                  std::chrono::milliseconds(1), std::chrono::milliseconds(kRequestLimit));
    support::RunGuard guard = support::run_guard(limit);
    link.guard = &guard;
    const ZabbixWhere where{server_text(link.server), request.keys.front(), request.keys.back(), request.keys.size()};
    try {
        return {Attempt::End::Sent, send_request(link, request)};
    } catch (const support::Interrupted&) {
        return {Attempt::End::Unreachable, {}, "no answer within " + std::to_string(limit.count()) + " ms"};
    } catch (const support::Failure& failure) {
        const std::string why = failure_reason(failure.what(), where);
        const bool unconnected = why.rfind("cannot connect (", 0) == 0 || why == "no server address";
        return {unconnected ? Attempt::End::Unreachable : Attempt::End::Lost, {}, why};
    } catch (const std::exception& failure) {
        return {Attempt::End::Lost, {}, where_text(where) + ": " + failure.what()};
    }
}

bool full_request_waits(const SharedSender& sender) {
    const auto& requests = sender.backlog.requests;
    // Only the newest request of each kind may still be filling.
    return requests.size() > 2 || (!requests.empty() && requests.front().keys.size() >= kMaxRequestValues);
}

// The request without its first count items.
void drop_first_items(GatheredRequest& request, std::size_t count) {
    const std::size_t cut = std::min(request.ends[count - 1] + 1, request.items.size());
    request.items.erase(0, cut);
    request.keys.erase(request.keys.begin(), request.keys.begin() + static_cast<std::ptrdiff_t>(count));
    request.ends.erase(request.ends.begin(), request.ends.begin() + static_cast<std::ptrdiff_t>(count));
    for (auto& end : request.ends) end -= cut;
}

// Under the lock: the oldest values, until the rest fit.
void drop_oldest(SharedSender& sender) {
    auto& requests = sender.backlog.requests;
    while (!requests.empty() && sender.values > sender.max_values) {
        const std::size_t excess = sender.values - sender.max_values;
        const std::size_t count = std::min(excess, requests.front().keys.size());
        if (count == requests.front().keys.size()) requests.erase(requests.begin());
        else drop_first_items(requests.front(), count);
        sender.values -= count;
        sender.notes.dropped += count;
    }
}

void note_refusal(SenderNotes& notes, const GatheredRequest& request, const SendResult& result) {
    if (request.refusal != Refusal::Counts || result.failed == 0) return;
    notes.refused += std::min<std::uint64_t>(result.failed, request.keys.size());
    notes.last_refusal = std::to_string(request.keys.size()) + " values from \"" +
                         support::shown_text(request.keys.front()) + "\" to \"" +
                         support::shown_text(request.keys.back()) + "\" (Zabbix: \"" + result.info + "\")";
}

void note_unreachable(SharedSender& sender, const std::string& why) {
    SenderNotes& notes = sender.notes;
    const auto now = Clock::now();
    if (!notes.unreachable || now - notes.unreachable_logged >= kLogEvery) {
        log("Zabbix cannot be reached (" + why + "): " + std::to_string(sender.values) +
            " values wait, at most " + std::to_string(sender.max_values) + " are kept");
        notes.unreachable_logged = now;
    }
    notes.unreachable = true;
}

// Under the lock, after the attempt: the request back at the front when it
// may go again.
void note_attempt(SharedSender& sender, const Attempt& attempt, GatheredRequest&& request) {
    SenderNotes& notes = sender.notes;
    if (attempt.end == Attempt::End::Unreachable) {
        sender.backlog.requests.insert(sender.backlog.requests.begin(), std::move(request));
        drop_oldest(sender);
        note_unreachable(sender, attempt.why);
        return;
    }
    sender.values -= request.keys.size();
    if (notes.unreachable) log("Zabbix can be reached again: " + std::to_string(sender.values) + " values to send");
    notes.unreachable = false;
    if (attempt.end == Attempt::End::Lost) {
        notes.lost += request.keys.size();
        notes.last_loss = attempt.why;
    } else {
        note_refusal(notes, request, attempt.result);
    }
}

void log_notes(SenderNotes& notes, std::size_t max_values) {
    const auto now = Clock::now();
    if ((notes.dropped | notes.refused | notes.lost) == 0) return;
    if (notes.logged != Clock::time_point{} && now - notes.logged < kLogEvery) return;
    if (notes.dropped > 0)
        log("dropped the " + std::to_string(notes.dropped) + " oldest values waiting: the backlog keeps at most " +
            std::to_string(max_values) + " (BMC_PROBE_FLEET_BACKLOG)");
    if (notes.refused > 0)
        log("Zabbix refused " + std::to_string(notes.refused) + " values, the last among " + notes.last_refusal +
            "; check that the hosts and their items exist in Zabbix");
    if (notes.lost > 0)
        log(std::to_string(notes.lost) + " values were not delivered, the last: " + notes.last_loss);
    notes.dropped = notes.refused = notes.lost = 0;
    notes.logged = now;
}

// Under the lock, which each exchange goes without: the requests waiting, in
// order, until none is left or Zabbix cannot be reached.
void send_waiting(SharedSender& sender, ZabbixLink& link, std::unique_lock<std::mutex>& lock) {
    auto& requests = sender.backlog.requests;
    while (!requests.empty()) {
        GatheredRequest request = std::move(requests.front());
        requests.erase(requests.begin());  // still counted in the values while it is out
        const auto by = sender.stopping ? sender.stop_by : Clock::now() + kRequestLimit;
        lock.unlock();
        const Attempt attempt = attempt_request(link, request, by);
        lock.lock();
        note_attempt(sender, attempt, std::move(request));
        if (attempt.end == Attempt::End::Unreachable) return;
    }
}

void serve(SharedSender& sender) {
    ZabbixLink link{sender.server, nullptr};
    std::unique_lock lock(sender.lock);
    while (true) {
        const auto pause = sender.notes.unreachable ? kRetryEvery : kFlushEvery;
        sender.wake.wait_for(lock, pause, [&] {
            return sender.stopping || (!sender.notes.unreachable && full_request_waits(sender));
        });
        const bool last = sender.stopping;
        send_waiting(sender, link, lock);
        const bool done = sender.backlog.requests.empty() || Clock::now() >= sender.stop_by;
        if (last && (done || sender.notes.unreachable)) {
            sender.notes.lost += sender.values;
            if (sender.values > 0) sender.notes.last_loss = "still waiting for Zabbix at the stop";
            sender.notes.logged = {};
            log_notes(sender.notes, sender.max_values);
            return;
        }
        log_notes(sender.notes, sender.max_values);
    }
}

}  // namespace

void start_sender(SharedSender& sender) {
    sender.thread = std::thread([&sender] { serve(sender); });
}

void hand_over(SharedSender& sender, const std::string& zabbix_host, Gathered&& gathered) {
    bool wake = false;
    {
        const std::lock_guard hold(sender.lock);
        for (const auto& request : gathered.requests) {
            for (std::size_t i = 0; i < request.keys.size(); ++i)
                gather(sender.backlog, request.refusal, zabbix_host + " " + request.keys[i],
                       std::string(gathered_item(request, i)));
            sender.values += request.keys.size();
        }
        drop_oldest(sender);
        wake = full_request_waits(sender) && !sender.notes.unreachable;
    }
    if (wake) sender.wake.notify_one();
}

void stop_sender(SharedSender& sender, std::chrono::milliseconds within) {
    {
        const std::lock_guard hold(sender.lock);
        sender.stopping = true;
        sender.stop_by = Clock::now() + within;
    }
    sender.wake.notify_one();
    if (sender.thread.joinable()) sender.thread.join();
}

}  // namespace zabbix
