#pragma once
// The values of a run, gathered in call order into the sender requests that
// will carry them, with no I/O. Zabbix's reply counts the refused values of a
// request without naming them, so values whose refusal fails the run travel
// apart from values that Zabbix is expected to refuse for a while (per-row
// items before low-level discovery has created them): a refusal can then be
// traced to the keys of its request. Within each kind, requests fill up in
// call order to at most 250 values, as zabbix_sender sends them, and 1 MiB.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "zabbix/frame.h"

namespace zabbix {

// What a refusal of the value means for the run.
enum class Refusal {
    Counts,    // the run fails naming the keys
    Expected,  // Zabbix may refuse it for now; nobody is told
};

inline constexpr std::size_t kMaxRequestValues = 250;
// Items of one request; a value bigger than that alone goes in a request of its own.
inline constexpr std::size_t kMaxRequestBytes = std::size_t{1024} * 1024;

struct GatheredRequest {
    Refusal refusal;
    std::string items;  // the data items, joined by ","
    std::vector<std::string> keys;
    std::vector<std::size_t> ends{};  // where each item ends in items
};

// The text of the request's item i.
std::string_view gathered_item(const GatheredRequest& request, std::size_t i);

struct Gathered {
    std::vector<GatheredRequest> requests;  // in the order of their first value
    Timestamp last{};                       // the moment of the last value gathered
};

// Adds one data item (sender_item's text) under key to the open request of its
// kind, or to a new one when that is full.
void gather(Gathered& gathered, Refusal refusal, const std::string& key, const std::string& item);

// The real-time clock's moment.
Timestamp clock_now();

// The moment for the next value: now, or a nanosecond after the last value
// when the clock has not moved on, so that every value of a run has its own
// moment and Zabbix's history keeps the order of the calls.
Timestamp next_moment(Gathered& gathered, Timestamp now);

}  // namespace zabbix
