#pragma once
// A simulated Redfish service over real HTTPS on 127.0.0.1, run in a
// background thread that answers several connections at once. By default it
// speaks bmcweb's session protocol (at the session collection the scenario's
// service root links) and serves the scenario; each route (method + path) can
// be scripted with its own answer. It records every request in the order they
// arrive and counts the TLS connections it accepted.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmc-sim/certificate.h"
#include "bmc-sim/scenario.h"

namespace bmc_sim {

// Worker threads shared by many simulated BMCs, so that a fleet of them in
// one process needs one pool, not one per listening port.
class SharedWorkers;
std::shared_ptr<SharedWorkers> make_shared_workers(std::size_t threads);

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Reply {
    int status = 200;
    HeaderList headers;
    std::string body;
    std::chrono::milliseconds delay{0};     // waited before answering
    std::optional<std::size_t> drop_after;  // announce the whole body, send this many bytes, close
};

// An answer of that status, headers and body, sent at once and whole.
Reply reply(int status, HeaderList headers = {}, std::string body = {});

struct RecordedRequest {
    std::string method;
    std::string target;  // as on the request line, query included
    std::string path;    // target without the query
    HeaderList headers;  // names as sent
    std::string body;
    int remote_port = 0;
    int connection = 0;  // 1 for the first TLS connection accepted, and so on

    // The first header of that name, whatever its letter case.
    std::optional<std::string> header(const std::string& name) const;
};

struct Options {
    Scenario scenario;
    int port = 0;                             // 0: an ephemeral port
    std::optional<std::string> cert_dir;      // unset: a fresh certificate in memory
    std::optional<std::string> user;          // when set, the only user name accepted
    std::optional<std::string> password;      // when set, the only password accepted
    std::chrono::milliseconds login_delay{0}; // waited before answering a login
    std::chrono::milliseconds logout_delay{0};  // a logout is neither done nor answered before
    std::chrono::milliseconds read_delay{0};    // waited before answering each resource read
    // Called with "login ID" and "logout ID" as sessions open and close.
    std::function<void(const std::string& event)> on_session;
    std::chrono::milliseconds delay{0};       // waited before every answer (added to any other)
    std::shared_ptr<const Scenario> shared_scenario;  // set: served instead of scenario, one copy for many
    std::shared_ptr<const Certificate> certificate;  // set: used instead of cert_dir or a fresh one
    std::shared_ptr<SharedWorkers> workers;          // unset: a pool of the server's own
    bool record_requests = true;  // false: only counted (a fleet's requests would fill the memory)
    int keep_alive_seconds = 60;  // an idle connection is closed after that long
};

struct Counts {
    std::size_t requests = 0;
    int tls_connections = 0;
    int logins = 0;
    int logouts = 0;
    int open_sessions = 0;
};

class TestBmc {
public:
    explicit TestBmc(Options options);
    ~TestBmc();
    TestBmc(const TestBmc&) = delete;
    TestBmc& operator=(const TestBmc&) = delete;

    // Binds 127.0.0.1 and serves from a background thread until stop();
    // returns once it serves, or at once without wait (then wait_until_serving
    // before a stop).
    void start(bool wait = true);
    void wait_until_serving();
    void stop();

    int port() const;
    std::string url_base() const;  // "127.0.0.1:PORT"

    // From now on every request to method + path gets reply.
    void script(const std::string& method, const std::string& path, Reply reply);

    std::vector<RecordedRequest> requests() const;
    int tls_connections() const;
    Counts counts() const;

    // The token and the Location path of the newest login, empty before one.
    std::string last_token() const;
    std::string last_session_path() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace bmc_sim
