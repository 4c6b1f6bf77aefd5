#include "kit/test_trapper.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "kit/raw_listener.h"
#include "kit/sender_frame.h"

namespace kit {
namespace {

using namespace std::chrono_literals;

constexpr auto patience = 5s;  // how long a connection may take before the trapper gives up on it

std::string answer_frame(const std::string& response, const std::string& info) {
    return frame(support::Json{{"response", response}, {"info", info}}.dump());
}

// Zabbix's info text for a request of total values, refused of them refused.
std::string counted_info(std::size_t total, std::size_t refused) {
    return "processed: " + std::to_string(total - refused) + "; failed: " + std::to_string(refused) +
           "; total: " + std::to_string(total) + "; seconds spent: 0.000052";
}

struct Peer {
    int fd;
    SSL* ssl;
    const std::atomic<bool>& stopping;
};

// Bytes read, 0 once the client has closed, -1 when nothing came in time.
int read_some(const Peer& peer, char* buffer, std::size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!peer.stopping && std::chrono::steady_clock::now() < deadline) {
        if (peer.ssl) {
            const int n = SSL_read(peer.ssl, buffer, static_cast<int>(size));
            if (n > 0) return n;
            const int error = SSL_get_error(peer.ssl, n);
            if (error != SSL_ERROR_WANT_READ) return 0;
        } else {
            const ssize_t n = recv(peer.fd, buffer, size, 0);
            if (n >= 0) return static_cast<int>(n);
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return 0;
        }
    }
    return -1;
}

bool read_exactly(const Peer& peer, std::string& into, std::size_t size) {
    into.resize(size);
    std::size_t have = 0;
    while (have < size) {
        const int n = read_some(peer, into.data() + have, size - have);
        if (n <= 0) return false;
        have += static_cast<std::size_t>(n);
    }
    return true;
}

void write_all(const Peer& peer, const std::string& bytes) {
    if (peer.ssl) {
        SSL_write(peer.ssl, bytes.data(), static_cast<int>(bytes.size()));
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(peer.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void write_in_pieces(const Peer& peer, const std::string& bytes) {
    const std::size_t cuts[] = {0, 2, 9, 13, 20, bytes.size()};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
        write_all(peer, bytes.substr(cuts[i], cuts[i + 1] - cuts[i]));
        std::this_thread::sleep_for(15ms);
    }
}

void wait_until_closed(const Peer& peer) {
    char buffer[256];
    while (!peer.stopping && read_some(peer, buffer, sizeof buffer) != 0) {
    }
}

void send_answer(const Peer& peer, TrapperAnswer answer, std::size_t total, std::size_t refused) {
    const std::string success = answer_frame("success", counted_info(total, refused));
    switch (answer) {
        case TrapperAnswer::Success: return write_all(peer, success);
        case TrapperAnswer::Refuse: return write_all(peer, answer_frame("success", counted_info(total, total)));
        case TrapperAnswer::SplitSuccess: return write_in_pieces(peer, success);
        case TrapperAnswer::Close: return;
        case TrapperAnswer::Garbage: return write_all(peer, frame("<html>not json</html>"));
        case TrapperAnswer::WrongFrame: return write_all(peer, "HTTP/1.1 400 Bad Request\r\n\r\n");
        case TrapperAnswer::HugeLength: return write_all(peer, std::string("ZBXD\x01\xff\xff\xff\xff\0\0\0\0", 13));
        case TrapperAnswer::ResponseFailed:
            return write_all(peer, answer_frame("failed", "cannot process request"));
        case TrapperAnswer::HalfThenClose: return write_all(peer, success.substr(0, success.size() / 2));
        case TrapperAnswer::Silent: return wait_until_closed(peer);
    }
}

std::string text_of(const support::Json& item, const char* name) {
    if (!item.is_object() || !item.contains(name)) return "";
    const auto& member = item[name];
    return member.is_string() ? member.get<std::string>() : member.dump();
}

// The request and its values; a payload that is not a sender request has none.
TrapperRequest parse_request(const std::string& header, const std::string& payload, int number,
                             std::vector<TrapperCall>& values) {
    TrapperRequest request{header + payload, support::Json::parse(payload, nullptr, false), {}};
    const auto& data = request.payload.is_object() ? request.payload.value("data", support::Json()) : support::Json();
    if (!data.is_array()) return request;
    for (const auto& item : data) {
        TrapperCall call{text_of(item, "host"), text_of(item, "key"), text_of(item, "value"), item, std::nullopt, 0,
                         number};
        if (item.is_object() && item.contains("clock") && item["clock"].is_number_integer()) {
            call.clock = item["clock"].get<std::int64_t>();
            call.ns = item.value("ns", std::int64_t{0});
        }
        request.keys.push_back(call.key);
        values.push_back(std::move(call));
    }
    return request;
}

unsigned int take_psk(SSL* ssl, const char* identity, unsigned char* key, unsigned int max_key) {
    const auto* psk = static_cast<const TrapperPsk*>(SSL_get_app_data(ssl));
    if (psk == nullptr || identity == nullptr || psk->identity != identity || psk->key_hex.size() / 2 > max_key)
        return 0;
    for (std::size_t i = 0; i + 1 < psk->key_hex.size(); i += 2)
        key[i / 2] = static_cast<unsigned char>(std::stoi(psk->key_hex.substr(i, 2), nullptr, 16));
    return static_cast<unsigned int>(psk->key_hex.size() / 2);
}

SSL_CTX* make_tls_context(const TrapperPsk& psk) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) throw std::runtime_error("test trapper: SSL_CTX_new failed");
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    if (psk.max_tls_version != 0) SSL_CTX_set_max_proto_version(context, psk.max_tls_version);
    SSL_CTX_set_cipher_list(context, "PSK");
    SSL_CTX_set_psk_server_callback(context, take_psk);
    return context;
}

bool accept_tls(const Peer& peer) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!peer.stopping && std::chrono::steady_clock::now() < deadline) {
        const int result = SSL_accept(peer.ssl);
        if (result == 1) return true;
        if (SSL_get_error(peer.ssl, result) != SSL_ERROR_WANT_READ) return false;
    }
    return false;
}

}  // namespace

TestTrapper::TestTrapper(TrapperOptions trapper_options) : options(std::move(trapper_options)) {
    listen_fd = bind_loopback(bound_port);
    if (options.psk) tls_context = make_tls_context(*options.psk);
    if (options.listening) start_listening();
}

TestTrapper::~TestTrapper() {
    stopping = true;
    if (worker.joinable()) worker.join();
    close(listen_fd);
    SSL_CTX_free(static_cast<SSL_CTX*>(tls_context));
}

zabbix::ZabbixServer TestTrapper::server() const {
    zabbix::ZabbixServer server{{endpoint()}, std::nullopt};
    if (options.psk) server.psk = zabbix::ZabbixPsk{options.psk->identity, options.psk->key_hex};
    return server;
}

void TestTrapper::start_listening() {
    if (worker.joinable()) return;
    if (listen(listen_fd, 16) != 0) throw std::runtime_error("test trapper: cannot listen");
    worker = std::thread([this] { serve(); });
}

void TestTrapper::answer_at(int request, TrapperAnswer answer) {
    const std::lock_guard guard(lock);
    scripted[request] = answer;
}

void TestTrapper::reply_at(int request, std::string payload) {
    const std::lock_guard guard(lock);
    scripted_payloads[request] = std::move(payload);
}

void TestTrapper::refuse_keys(std::function<bool(const std::string&)> predicate) {
    const std::lock_guard guard(lock);
    refused_key = std::move(predicate);
}

std::vector<TrapperCall> TestTrapper::calls() const {
    std::vector<TrapperCall> values;
    {
        const std::lock_guard guard(lock);
        values = recorded;
    }
    if (std::all_of(values.begin(), values.end(), [](const TrapperCall& call) { return call.clock.has_value(); }))
        std::stable_sort(values.begin(), values.end(), [](const TrapperCall& a, const TrapperCall& b) {
            return std::pair(*a.clock, a.ns) < std::pair(*b.clock, b.ns);
        });
    return values;
}

std::vector<TrapperRequest> TestTrapper::requests() const {
    const std::lock_guard guard(lock);
    return recorded_requests;
}

std::vector<std::string> TestTrapper::keys() const {
    std::vector<std::string> keys;
    for (const auto& call : calls()) keys.push_back(call.key);
    return keys;
}

TrapperAnswer TestTrapper::answer_for(int request, const std::vector<std::string>& keys, std::size_t& refused) const {
    const std::lock_guard guard(lock);
    refused = refused_key ? static_cast<std::size_t>(std::count_if(keys.begin(), keys.end(), refused_key)) : 0;
    const auto found = scripted.find(request);
    return found != scripted.end() ? found->second : TrapperAnswer::Success;
}

void TestTrapper::serve() {
    accept_each(listen_fd, stopping, accepted, [this](int client) { handle(client); });
}

void TestTrapper::handle(int client) {
    const timeval tick{0, 20000};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SSL* ssl = nullptr;
    if (tls_context) {
        ssl = SSL_new(static_cast<SSL_CTX*>(tls_context));
        SSL_set_fd(ssl, client);
        SSL_set_app_data(ssl, &*options.psk);
    }
    const Peer peer{client, ssl, stopping};
    std::string header, payload;
    if ((!ssl || accept_tls(peer)) && read_exactly(peer, header, kFrameHeaderSize) && header.compare(0, 5, "ZBXD\x01") == 0) {
        if (read_exactly(peer, payload, announced_size(header.data()))) {
            std::vector<TrapperCall> values;
            std::vector<std::string> keys;
            int number;
            {
                const std::lock_guard guard(lock);
                number = static_cast<int>(recorded_requests.size()) + 1;
                recorded_requests.push_back(parse_request(header, payload, number, values));
                keys = recorded_requests.back().keys;
                recorded.insert(recorded.end(), values.begin(), values.end());
            }
            std::optional<std::string> reply;
            {
                const std::lock_guard guard(lock);
                if (const auto found = scripted_payloads.find(number); found != scripted_payloads.end())
                    reply = found->second;
            }
            std::size_t refused = 0;
            const TrapperAnswer answer = answer_for(number, keys, refused);
            if (reply) write_all(peer, frame(*reply));
            else send_answer(peer, answer, keys.size(), refused);
        }
    }
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
}

}  // namespace kit
