#pragma once
// The sender many runs share (the fleet): each run hands over the values it
// gathered, which join those of every other run in requests of at most 250
// values; a thread of its own sends them every second, and at once when a
// request is full. While Zabbix cannot be reached they wait in a backlog of at
// most max_values values: the oldest values make room for the newest, and
// how many were dropped is logged, at most once a minute. A request that went
// out and failed (a bad or missing answer) is not sent again, since Zabbix
// may have stored it; refusals are logged the same way as drops.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "zabbix/batch.h"
#include "zabbix/server.h"

namespace zabbix {

// What the sender has to tell, each kind at most once a minute.
struct SenderNotes {
    std::uint64_t dropped = 0;  // values dropped from the full backlog, not logged yet
    std::uint64_t refused = 0;  // values Zabbix refused, not logged yet
    std::uint64_t lost = 0;     // values of requests that failed once sent, not logged yet
    std::string last_refusal;   // what the last refusal named
    std::string last_loss;      // why the last failed request failed
    bool unreachable = false;   // the last attempt could not connect
    std::string unreachable_why;
    std::chrono::steady_clock::time_point logged{};  // of the last line about drops, refusals or losses
    std::chrono::steady_clock::time_point unreachable_logged{};
};

struct SharedSender {
    ZabbixServer server{};
    std::size_t max_values = 0;
    std::mutex lock;
    std::condition_variable wake;
    Gathered backlog{};  // the values waiting, oldest first; keys read "<host> <key>"
    std::size_t values = 0;  // waiting, the request on its way included
    bool stopping = false;
    std::chrono::steady_clock::time_point stop_by{};  // how long the last values may still take
    SenderNotes notes{};
    std::thread thread{};
};

// Starts the sender's thread.
void start_sender(SharedSender& sender);

// Adds what one run gathered for zabbix_host, dropping the oldest values
// beyond the bound.
void hand_over(SharedSender& sender, const std::string& zabbix_host, Gathered&& gathered);

// Sends what is left, until every value is out or by the time given, then
// ends the thread.
void stop_sender(SharedSender& sender, std::chrono::milliseconds within);

}  // namespace zabbix
