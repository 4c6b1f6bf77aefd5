#include "bmc-sim/test_bmc.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cctype>
#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>
#include <thread>

#include "bmc-sim/bodies.h"
#include "bmc-sim/certificate.h"
#include "bmc-sim/shared_workers.h"

namespace bmc_sim {

struct TestBmc::State {
    Options options;
    std::shared_ptr<const Certificate> certificate;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable wake;  // ends the waits of delayed answers at stop
    bool stopping = false;
    std::map<std::pair<std::string, std::string>, Reply> scripts;
    std::vector<RecordedRequest> requests;
    Counts counts;
    std::map<std::string, std::string> sessions;  // id -> token
    std::string last_token, last_session_path;
    std::map<const SSL*, int> live_connections;  // -> its number
    int connections = 0;
    std::mt19937 random{std::random_device{}()};
};

namespace {

using State = TestBmc::State;

const HeaderList kSecurityHeaders = {
    {"Strict-Transport-Security", "max-age=31536000; includeSubdomains; preload"},
    {"X-Frame-Options", "DENY"},
    {"Pragma", "no-cache"},
    {"Cache-Control", "no-Store,no-Cache"},
    {"X-XSS-Protection", "1; mode=block"},
    {"X-Content-Type-Options", "nosniff"},
};

const Scenario& scenario_of(const State& state) {
    return state.options.shared_scenario ? *state.options.shared_scenario : state.options.scenario;
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<std::string> header_in(const HeaderList& headers, const std::string& name) {
    for (const auto& [key, value] : headers)
        if (same_name(key, name)) return value;
    return std::nullopt;
}

// TLS connections are followed through OpenSSL itself: the info callback sees
// each handshake start, and the ex-data free callback sees the connection go.
void forget_connection(void* parent, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
    if (ptr == nullptr) return;  // not one of ours (the test's own client connections)
    auto* state = static_cast<State*>(ptr);
    std::lock_guard lock(state->mutex);
    state->live_connections.erase(static_cast<const SSL*>(parent));
}

int connection_index() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, forget_connection);
    return index;
}

void on_tls_event(const SSL* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0) return;
    SSL* connection = const_cast<SSL*>(ssl);
    // TLS 1.3 signals post-handshake messages as handshakes too.
    if (SSL_get_ex_data(connection, connection_index()) != nullptr) return;
    auto* state = static_cast<State*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    SSL_set_ex_data(connection, connection_index(), state);
    std::lock_guard lock(state->mutex);
    state->live_connections[ssl] = ++state->connections;
}

std::string random_text(State& state, std::size_t length) {
    static constexpr std::string_view kAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += kAlphabet[pick(state.random)];
    return text;
}

bool authenticated(const State& state, const httplib::Request& request) {
    if (!request.has_header("X-Auth-Token")) return false;
    const auto token = request.get_header_value("X-Auth-Token");
    return std::any_of(state.sessions.begin(), state.sessions.end(),
                       [&](const auto& session) { return session.second == token; });
}

Reply json_reply(int status, std::string body, HeaderList extra = {}) {
    HeaderList headers = {{"OData-Version", "4.0"}};
    headers.insert(headers.end(), extra.begin(), extra.end());
    headers.insert(headers.end(), kSecurityHeaders.begin(), kSecurityHeaders.end());
    headers.emplace_back("Content-Type", "application/json");
    return reply(status, std::move(headers), std::move(body));
}

// bmcweb refuses a request without a live token before routing it: a text
// body and no Content-Type.
Reply unauthorized() {
    HeaderList headers = kSecurityHeaders;
    headers.emplace_back("WWW-Authenticate", "Basic");
    return reply(401, std::move(headers), "Unauthorized");
}

Reply login(State& state, const httplib::Request& request) {
    const HeaderList allow = {{"Allow", "GET, HEAD, POST"}};
    const auto credentials = nlohmann::json::parse(request.body, nullptr, false);
    if (!credentials.is_object() || !credentials.contains("UserName") || !credentials.contains("Password") ||
        !credentials["UserName"].is_string() || !credentials["Password"].is_string())
        return json_reply(400, bodies::malformed_login(), allow);
    const auto user = credentials["UserName"].get<std::string>();
    const auto password = credentials["Password"].get<std::string>();
    if ((state.options.user && user != *state.options.user) ||
        (state.options.password && password != *state.options.password))
        return json_reply(401, bodies::login_refused(), allow);
    const std::string id = random_text(state, 10), token = random_text(state, 20);
    state.sessions[id] = token;
    ++state.counts.logins;
    state.last_token = token;
    state.last_session_path = scenario_of(state).sessions_path + "/" + id;
    HeaderList headers = allow;
    headers.emplace_back("X-Auth-Token", token);
    headers.emplace_back("Location", state.last_session_path);
    Reply created = json_reply(201, bodies::session(id, user, request.remote_addr), headers);
    created.delay = state.options.login_delay;
    if (state.options.on_session) state.options.on_session("login " + id);
    return created;
}

Reply logout(State& state, const httplib::Request& request, const std::string& id) {
    if (!authenticated(state, request)) return unauthorized();
    const HeaderList allow = {{"Allow", "DELETE, GET, HEAD"}};
    if (state.sessions.erase(id) == 0) return json_reply(404, bodies::resource_not_found("Session", id), allow);
    ++state.counts.logouts;
    if (state.options.on_session) state.options.on_session("logout " + id);
    return json_reply(200, bodies::success(), allow);
}

// The query as it came, percent escapes decoded: "$expand=.($levels=1)".
std::string query_of(const httplib::Request& request) {
    const auto mark = request.target.find('?');
    if (mark == std::string::npos) return "";
    std::string decoded;
    for (std::size_t i = mark + 1; i < request.target.size(); ++i) {
        const char c = request.target[i];
        if (c == '%' && i + 2 < request.target.size() && std::isxdigit(static_cast<unsigned char>(request.target[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(request.target[i + 2]))) {
            decoded += static_cast<char>(std::stoi(request.target.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

Reply resource_answer(State& state, const httplib::Request& request) {
    const std::string& path = request.path;
    const std::string& sessions = scenario_of(state).sessions_path;
    if (request.method == "POST" && (path == sessions || path == sessions + "/")) return login(state, request);
    // Redfish serves its service root to anyone: a client reads the login's
    // address there.
    const bool service_root = request.method == "GET" && (path == "/redfish/v1" || path == "/redfish/v1/");
    if (!service_root && !authenticated(state, request)) return unauthorized();
    if (request.method == "DELETE" && path.rfind(sessions + "/", 0) == 0 && path.size() > sessions.size() + 1)
        return logout(state, request, path.substr(sessions.size() + 1));
    if (request.method != "GET") return json_reply(404, bodies::resource_not_found("Resource", path));
    for (const auto& resource : scenario_of(state).resources)
        if (resource.path == path) return json_reply(resource.status, resource.body);
    if (const auto answer = answer_for_get(scenario_of(state), request.path, query_of(request)))
        return json_reply(answer->status, answer->body);
    return json_reply(404, bodies::resource_not_found("Resource", path));
}

Reply default_answer(State& state, const httplib::Request& request) {
    Reply answer = resource_answer(state, request);
    if (request.method == "GET" && answer.status != 401) answer.delay = state.options.read_delay;
    return answer;
}

Reply answer_for(State& state, const httplib::Request& request) {
    const auto scripted = state.scripts.find({request.method, request.path});
    if (scripted != state.scripts.end()) return scripted->second;
    return default_answer(state, request);
}

RecordedRequest record_of(const State& state, const httplib::Request& request) {
    RecordedRequest record{request.method, request.target, request.path, {}, request.body, request.remote_port, 0};
    for (const auto& [name, value] : request.headers) {
        // httplib adds these itself; they were not on the wire.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
        record.headers.emplace_back(name, value);
    }
    const auto connection = state.live_connections.find(request.ssl);
    if (connection != state.live_connections.end()) record.connection = connection->second;
    return record;
}

void send_reply(const Reply& reply, httplib::Response& response) {
    response.status = reply.status;
    const std::string content_type = header_in(reply.headers, "Content-Type").value_or("application/json");
    for (const auto& [name, value] : reply.headers)
        if (!(reply.drop_after && same_name(name, "Content-Type"))) response.set_header(name, value);
    // A body after 204 or 304 would be read as the start of the next answer.
    if (reply.status == 204 || reply.status == 304) return;
    if (!reply.drop_after) {
        response.body = reply.body;
        return;
    }
    auto body = std::make_shared<std::string>(reply.body);
    const std::size_t keep = std::min(*reply.drop_after, body->size());
    response.set_content_provider(body->size(), content_type,
                                  [body, keep](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      if (offset >= keep) return false;  // closes the connection
                                      sink.write(body->data() + offset, std::min(length, keep - offset));
                                      return true;
                                  });
}

void handle(State& state, const httplib::Request& request, httplib::Response& response) {
    std::unique_lock lock(state.mutex);
    ++state.counts.requests;
    if (state.options.record_requests) state.requests.push_back(record_of(state, request));
    // A hung BMC: the logout is neither done nor answered for that long.
    if (request.method == "DELETE")
        state.wake.wait_for(lock, state.options.logout_delay, [&] { return state.stopping; });
    const Reply reply = answer_for(state, request);
    state.wake.wait_for(lock, reply.delay + state.options.delay, [&] { return state.stopping; });
    lock.unlock();
    send_reply(reply, response);
}

}  // namespace

Reply reply(int status, HeaderList headers, std::string body) {
    Reply made;
    made.status = status;
    made.headers = std::move(headers);
    made.body = std::move(body);
    return made;
}

std::optional<std::string> RecordedRequest::header(const std::string& name) const { return header_in(headers, name); }

TestBmc::TestBmc(Options options) : state_(std::make_unique<State>()) { state_->options = std::move(options); }

TestBmc::~TestBmc() { stop(); }

void TestBmc::start(bool wait) {
    State& state = *state_;
    if (state.server) return;
    if (state.options.certificate) {
        state.certificate = state.options.certificate;
    } else {
        state.certificate = std::make_shared<Certificate>(
            state.options.cert_dir ? certificate_in(*state.options.cert_dir) : make_self_signed_certificate());
    }
    state.server = std::make_unique<httplib::SSLServer>(state.certificate->cert.get(), state.certificate->key.get());
    auto& server = *state.server;
    if (!server.is_valid()) throw std::runtime_error("bmc-sim: the TLS context cannot be set up");
    SSL_CTX_set_app_data(server.ssl_context(), &state);
    SSL_CTX_set_info_callback(server.ssl_context(), on_tls_event);
    server.set_keep_alive_max_count(1000);
    server.set_keep_alive_timeout(state.options.keep_alive_seconds);
    if (state.options.workers)
        server.new_task_queue = [workers = state.options.workers] { return new_server_queue(workers); };
    // Headers and body go out in separate writes; with Nagle on, the body
    // would wait for the client's delayed ACK (40 ms a request).
    server.set_tcp_nodelay(true);
    // Not httplib's SO_REUSEPORT: a second simulator started on a port in use
    // would silently take half its connections (and their logins) from the first.
    server.set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const auto handler = [&state](const httplib::Request& request, httplib::Response& response) {
        handle(state, request, response);
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Delete(".*", handler);
    server.Put(".*", handler);
    server.Patch(".*", handler);
    if (state.options.port == 0) {
        state.port = server.bind_to_any_port("127.0.0.1");
    } else {
        state.port = server.bind_to_port("127.0.0.1", state.options.port) ? state.options.port : -1;
    }
    if (state.port <= 0) {
        const int error = errno;
        state.server.reset();
        throw std::runtime_error("bmc-sim: cannot listen on 127.0.0.1:" + std::to_string(state.options.port) + ": " +
                                 std::strerror(error));
    }
    state.thread = std::thread([&server] { server.listen_after_bind(); });
    if (wait) wait_until_serving();
}

void TestBmc::wait_until_serving() {
    // stop() only takes effect once the server runs.
    while (state_->server && !state_->server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TestBmc::stop() {
    State& state = *state_;
    if (!state.server) return;
    {
        std::lock_guard lock(state.mutex);
        state.stopping = true;
    }
    state.wake.notify_all();
    state.server->stop();
    {
        // Idle keep-alive connections would hold the worker threads (and so
        // the stop) for the whole keep-alive time.
        std::lock_guard lock(state.mutex);
        for (const auto& [ssl, number] : state.live_connections) ::shutdown(SSL_get_fd(ssl), SHUT_RDWR);
    }
    state.thread.join();
    state.server.reset();
    std::lock_guard lock(state.mutex);
    state.stopping = false;
}

int TestBmc::port() const { return state_->port; }

std::string TestBmc::url_base() const { return "127.0.0.1:" + std::to_string(state_->port); }

void TestBmc::script(const std::string& method, const std::string& path, Reply reply) {
    std::lock_guard lock(state_->mutex);
    state_->scripts[{method, path}] = std::move(reply);
}

std::vector<RecordedRequest> TestBmc::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

int TestBmc::tls_connections() const {
    std::lock_guard lock(state_->mutex);
    return state_->connections;
}

Counts TestBmc::counts() const {
    std::lock_guard lock(state_->mutex);
    Counts counts = state_->counts;
    counts.tls_connections = state_->connections;
    counts.open_sessions = static_cast<int>(state_->sessions.size());
    return counts;
}

std::string TestBmc::last_token() const {
    std::lock_guard lock(state_->mutex);
    return state_->last_token;
}

std::string TestBmc::last_session_path() const {
    std::lock_guard lock(state_->mutex);
    return state_->last_session_path;
}

}  // namespace bmc_sim
