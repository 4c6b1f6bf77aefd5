#pragma once
// A Zabbix trapper for tests: a real TCP listener on 127.0.0.1 (an ephemeral
// port) that speaks the sender protocol, records every request and answers
// as the test scripts it, plainly or over TLS with a PSK.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/json.h"
#include "support/zabbix_server.h"

namespace kit {

enum class TrapperAnswer {
    Success,         // "success", "processed: 1; failed: 0; ..."
    Refuse,          // "success", "processed: 0; failed: 1; ..."
    SplitSuccess,    // Success written in small pieces with pauses between them
    Close,           // closes the connection without answering
    Garbage,         // a well-formed frame whose payload is not JSON
    WrongFrame,      // bytes that are not a Zabbix frame at all
    HugeLength,      // a header that announces 4 GiB, then nothing
    ResponseFailed,  // "response": "failed"
    HalfThenClose,   // the first half of a Success reply, then close
    Silent,          // reads the request and never answers
};

struct TrapperCall {
    std::string host;
    std::string key;
    std::string value;      // the "value" text; the JSON text if it was not a string
    support::Json request;  // the whole request payload
    std::string frame;      // every byte received: header and payload
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
    support::ZabbixEndpoint endpoint() const { return {"127.0.0.1", bound_port}; }
    // This trapper as the only node, with the trapper's PSK when it has one.
    support::ZabbixServer server() const;

    void start_listening();
    // Calls are counted from 1 over the trapper's life.
    void answer_at(int call, TrapperAnswer answer);
    void refuse_keys(std::function<bool(const std::string& key)> predicate);

    std::vector<TrapperCall> calls() const;
    std::vector<std::string> keys() const;
    int connections() const { return accepted; }

private:
    void serve();
    void handle(int client);
    TrapperAnswer answer_for(int call, const std::string& key) const;

    TrapperOptions options;
    int listen_fd = -1;
    int bound_port = 0;
    void* tls_context = nullptr;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    mutable std::mutex lock;
    std::map<int, TrapperAnswer> scripted;
    std::function<bool(const std::string&)> refused_key;
    std::vector<TrapperCall> recorded;
    std::thread worker;
};

}  // namespace kit
