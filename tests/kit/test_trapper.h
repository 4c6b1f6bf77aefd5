#pragma once
// A Zabbix trapper for tests: a real TCP listener on 127.0.0.1 (an ephemeral
// port) that speaks the sender protocol, records every request and its
// values and answers as the test scripts it, plainly or over TLS with a PSK.
// Like Zabbix it counts the refused values of a request in its answer.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/json.h"
#include "zabbix/server.h"

namespace kit {

enum class TrapperAnswer {
    Success,         // "success", "processed: N; failed: 0; total: N; ..." (the refused keys counted, if any)
    Refuse,          // "success", every value refused: "processed: 0; failed: N; total: N; ..."
    SplitSuccess,    // Success written in small pieces with pauses between them
    Close,           // closes the connection without answering
    Garbage,         // a well-formed frame whose payload is not JSON
    WrongFrame,      // bytes that are not a Zabbix frame at all
    HugeLength,      // a header that announces 4 GiB, then nothing
    ResponseFailed,  // "response": "failed"
    HalfThenClose,   // the first half of a Success reply, then close
    Silent,          // reads the request and never answers
};

// One value received.
struct TrapperCall {
    std::string host;
    std::string key;
    std::string value;  // the "value" text; the JSON text if it was not a string
    support::Json item;  // the value's whole data item
    std::optional<std::int64_t> clock;
    std::int64_t ns = 0;
    int request = 0;  // the number of the request that carried it, from 1
};

// One request received.
struct TrapperRequest {
    std::string frame;      // every byte received: header and payload
    support::Json payload;  // the payload as JSON (discarded when it is not JSON)
    std::vector<std::string> keys;
};

struct TrapperPsk {
    std::string identity;
    std::string key_hex;
    int max_tls_version = 0;  // e.g. TLS1_2_VERSION; 0 for the newest
};

struct TrapperOptions {
    bool listening = true;  // false: the port is bound but refuses connections until start_listening()
    std::optional<TrapperPsk> psk;
};

struct TestTrapper {
    explicit TestTrapper(TrapperOptions options = {});
    ~TestTrapper();
    TestTrapper(const TestTrapper&) = delete;
    TestTrapper& operator=(const TestTrapper&) = delete;

    int port() const { return bound_port; }
    zabbix::ZabbixEndpoint endpoint() const { return {"127.0.0.1", bound_port}; }
    // This trapper as the only node, with the trapper's PSK when it has one.
    zabbix::ZabbixServer server() const;

    void start_listening();
    // Requests are counted from 1 over the trapper's life.
    void answer_at(int request, TrapperAnswer answer);
    // Answers that request with this payload, framed, whatever it holds.
    void reply_at(int request, std::string payload);
    // Values under these keys are refused and counted as failed.
    void refuse_keys(std::function<bool(const std::string& key)> predicate);

    // Every value received, in the order Zabbix's history shows them: by
    // their clock and ns when every value has them, else as they arrived.
    std::vector<TrapperCall> calls() const;
    std::vector<std::string> keys() const;
    std::vector<TrapperRequest> requests() const;
    int connections() const { return accepted; }

private:
    void serve();
    void handle(int client);
    // The answer to a request, and how many of its keys are refused.
    TrapperAnswer answer_for(int request, const std::vector<std::string>& keys, std::size_t& refused) const;

    TrapperOptions options;
    int listen_fd = -1;
    int bound_port = 0;
    void* tls_context = nullptr;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    mutable std::mutex lock;
    std::map<int, TrapperAnswer> scripted;
    std::map<int, std::string> scripted_payloads;
    std::function<bool(const std::string&)> refused_key;
    std::vector<TrapperRequest> recorded_requests;
    std::vector<TrapperCall> recorded;
    std::thread worker;
};

}  // namespace kit
