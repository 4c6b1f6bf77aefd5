#include "support/zabbix_sender.h"

#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <system_error>

#include "support/failure.h"
#include "support/runtime_limiter.h"
#include "support/value_text.h"

namespace support {
namespace {

constexpr std::size_t header_size = 13;  // "ZBXD", flags, 4 bytes of length, 4 reserved
constexpr unsigned char protocol_flag = 0x01;
// The answer to one value is about a hundred bytes; a length field far beyond
// that is a corrupt or foreign frame, refused before anything is allocated.
constexpr std::uint32_t max_reply_size = 64 * 1024;
constexpr std::size_t shown_reply_size = 200;

// Zabbix 6.0's own defaults for PSK connections with OpenSSL.
const char* const tls12_psk_ciphers = "kECDHEPSK+AES128:kPSK+AES128";
const char* const tls13_psk_ciphersuites = "TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256";

// The cluster node that accepted the last connection: later values go there
// first for the rest of the run.
std::optional<ZabbixEndpoint> answering_node;

struct Where {
    std::string server;
    std::string key;
};

[[noreturn]] void zabbix_failure(const Where& where, const std::string& why) {
    throw Failure(FailureKind::ZabbixError, "Zabbix server " + where.server + ", key \"" + where.key + "\": " + why);
}

struct SocketCloser {
    void operator()(const int* fd) const {
        if (*fd >= 0) close(*fd);
        delete fd;
    }
};
using Socket = std::unique_ptr<int, SocketCloser>;
using SslContext = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;
using Ssl = std::unique_ptr<SSL, decltype(&SSL_free)>;

struct PskMaterial {
    std::string identity;
    std::vector<unsigned char> key;
};

// The socket stays non-blocking; TLS runs over memory buffers so that every
// byte goes through the same send and recv calls, with their time limits and
// MSG_NOSIGNAL.
struct Connection {
    Socket socket;
    Where where;
    std::string stage;  // what the connection is doing, for the message when it drops
    PskMaterial psk;
    Ssl ssl{nullptr, SSL_free};
    BIO* from_network = nullptr;  // owned by ssl
    BIO* to_network = nullptr;    // owned by ssl
};

int fd_of(const Connection& connection) { return *connection.socket; }

int poll_limit() {
    if (!bound_active()) return -1;
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(time_left().count(), INT_MAX));
}

void wait_for(int fd, short events) {
    pollfd ready{fd, events, 0};
    while (true) {
        const int status = poll(&ready, 1, poll_limit());
        if (status > 0) return;
        if (status == 0) raise_timeout();
        if (errno != EINTR) return;  // the next socket call reports the error
    }
}

std::string system_error(int error) { return std::strerror(error); }

std::string tls_error_text() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += (text.empty() ? "" : "; ") + std::string(buffer);
    }
    return text.empty() ? "no detail from OpenSSL" : text;
}

struct ResolvedAddress {
    int family;
    int socktype;
    int protocol;
    sockaddr_storage address;
    socklen_t length;
};

Socket connect_address(const ResolvedAddress& address, std::string& reason) {
    Socket socket(new int(::socket(address.family, address.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.protocol)));
    if (*socket < 0) {
        reason = system_error(errno);
        return nullptr;
    }
    if (connect(*socket, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
        if (errno != EINPROGRESS) {
            reason = system_error(errno);
            return nullptr;
        }
        wait_for(*socket, POLLOUT);
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(*socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
        if (error != 0) {
            reason = system_error(error);
            return nullptr;
        }
    }
    return socket;
}

// Addresses of every server name resolved in this run: a run sends a value per
// connection, a hundred and more, and asking the resolver once is enough.
std::map<std::string, std::vector<ResolvedAddress>> resolved_names;

const std::vector<ResolvedAddress>* resolve(const ZabbixEndpoint& endpoint, std::string& reason) {
    const std::string name = endpoint_text(endpoint);
    if (const auto known = resolved_names.find(name); known != resolved_names.end()) return &known->second;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int status = getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), &hints, &addresses);
    if (status != 0) {
        reason = std::string("cannot resolve the name: ") + gai_strerror(status);
        return nullptr;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(addresses, freeaddrinfo);
    std::vector<ResolvedAddress> found;
    for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        ResolvedAddress entry{a->ai_family, a->ai_socktype, a->ai_protocol, {}, a->ai_addrlen};
        std::memcpy(&entry.address, a->ai_addr, a->ai_addrlen);
        found.push_back(entry);
    }
    return &(resolved_names[name] = std::move(found));
}

Socket connect_endpoint(const ZabbixEndpoint& endpoint, std::string& reason) {
    const auto* addresses = resolve(endpoint, reason);
    if (addresses == nullptr) return nullptr;
    if (addresses->empty()) reason = "the name has no address";
    for (const auto& address : *addresses) {
        if (Socket socket = connect_address(address, reason)) return socket;
    }
    return nullptr;
}

bool same_endpoint(const ZabbixEndpoint& a, const ZabbixEndpoint& b) { return a.host == b.host && a.port == b.port; }

// The cluster's nodes in order, the one that answered before moved to the front.
std::vector<ZabbixEndpoint> node_order(const ZabbixServer& server) {
    std::vector<ZabbixEndpoint> order = server.nodes;
    if (answering_node) {
        const auto known = std::find_if(order.begin(), order.end(),
                                        [](const ZabbixEndpoint& node) { return same_endpoint(node, *answering_node); });
        if (known != order.end()) std::rotate(order.begin(), known, known + 1);
    }
    return order;
}

Connection open_connection(const ZabbixServer& server, const Where& where) {
    if (server.nodes.empty()) zabbix_failure(where, "no server address");
    std::string reasons;
    for (const auto& node : node_order(server)) {
        std::string reason;
        if (Socket socket = connect_endpoint(node, reason)) {
            answering_node = node;
            return Connection{std::move(socket), Where{endpoint_text(node), where.key}, "", {}};
        }
        reasons += (reasons.empty() ? "" : "; ") + endpoint_text(node) + ": " + reason;
    }
    zabbix_failure(where, "cannot connect (" + reasons + ")");
}

void send_plain(const Connection& connection, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd_of(connection), data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_for(fd_of(connection), POLLOUT);
        } else if (sent < 0 && errno != EINTR) {
            zabbix_failure(connection.where, "connection dropped " + connection.stage + ": " + system_error(errno));
        }
    }
}

// Some bytes, or 0 once the server has closed the connection.
std::size_t receive_plain(const Connection& connection, char* buffer, std::size_t size) {
    while (true) {
        const ssize_t received = recv(fd_of(connection), buffer, size, 0);
        if (received >= 0) return static_cast<std::size_t>(received);
        if (errno == EAGAIN || errno == EWOULDBLOCK) wait_for(fd_of(connection), POLLIN);
        else if (errno != EINTR)
            zabbix_failure(connection.where, "connection dropped " + connection.stage + ": " + system_error(errno));
    }
}

void flush_tls(const Connection& connection) {
    char buffer[16384];
    int pending;
    while ((pending = BIO_read(connection.to_network, buffer, sizeof buffer)) > 0)
        send_plain(connection, buffer, static_cast<std::size_t>(pending));
}

bool feed_tls(const Connection& connection) {
    char buffer[16384];
    const std::size_t received = receive_plain(connection, buffer, sizeof buffer);
    if (received == 0) return false;
    BIO_write(connection.from_network, buffer, static_cast<int>(received));
    return true;
}

// Runs one TLS step (handshake, write or read) to its end; 0 when the server
// closed the connection.
int tls_step(const Connection& connection, const std::function<int()>& step, const std::string& what) {
    while (true) {
        ERR_clear_error();
        const int result = step();
        flush_tls(connection);
        if (result > 0) return result;
        const int error = SSL_get_error(connection.ssl.get(), result);
        if (error == SSL_ERROR_WANT_READ) {
            if (!feed_tls(connection)) return 0;
        } else if (error == SSL_ERROR_ZERO_RETURN) {
            return 0;
        } else if (error != SSL_ERROR_WANT_WRITE) {
            zabbix_failure(connection.where, what + " failed: " + tls_error_text());
        }
    }
}

unsigned int give_psk(SSL* ssl, const char*, char* identity, unsigned int max_identity, unsigned char* key,
                      unsigned int max_key) {
    const auto* psk = static_cast<const PskMaterial*>(SSL_get_app_data(ssl));
    if (psk == nullptr || psk->identity.size() + 1 > max_identity || psk->key.size() > max_key) return 0;
    std::memcpy(identity, psk->identity.c_str(), psk->identity.size() + 1);
    std::memcpy(key, psk->key.data(), psk->key.size());
    return static_cast<unsigned int>(psk->key.size());
}

std::vector<unsigned char> key_bytes(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        unsigned char byte = 0;
        std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
        bytes.push_back(byte);
    }
    return bytes;
}

// One TLS context for the run: it holds only the protocol settings, and every
// connection brings its own PSK.
SSL_CTX* psk_context(const Where& where) {
    static const SslContext context = [] {
        SslContext made(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
        SSL_CTX* ctx = made.get();
        if (ctx == nullptr || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_cipher_list(ctx, tls12_psk_ciphers) != 1 ||
            SSL_CTX_set_ciphersuites(ctx, tls13_psk_ciphersuites) != 1)
            return SslContext(nullptr, SSL_CTX_free);
        // No certificate is trusted, so a server that does not take the PSK fails the handshake.
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_psk_client_callback(ctx, give_psk);
        return made;
    }();
    if (!context) zabbix_failure(where, "cannot set up TLS: " + tls_error_text());
    return context.get();
}

void start_tls(Connection& connection, const ZabbixPsk& psk) {
    connection.stage = "during the TLS handshake (PSK)";
    connection.psk = {psk.identity, key_bytes(psk.key_hex)};
    connection.ssl.reset(SSL_new(psk_context(connection.where)));
    connection.from_network = BIO_new(BIO_s_mem());
    connection.to_network = BIO_new(BIO_s_mem());
    if (!connection.ssl || !connection.from_network || !connection.to_network)
        zabbix_failure(connection.where, "cannot set up TLS: " + tls_error_text());
    BIO_set_mem_eof_return(connection.from_network, -1);
    SSL_set_bio(connection.ssl.get(), connection.from_network, connection.to_network);
    SSL_set_app_data(connection.ssl.get(), &connection.psk);
    SSL* ssl = connection.ssl.get();
    if (tls_step(connection, [ssl] { return SSL_connect(ssl); }, "TLS handshake (PSK)") == 0)
        zabbix_failure(connection.where, "the server closed the connection during the TLS handshake (PSK)");
}

void send_all(Connection& connection, const std::string& bytes) {
    connection.stage = "while sending";
    if (!connection.ssl) return send_plain(connection, bytes.data(), bytes.size());
    SSL* ssl = connection.ssl.get();
    const auto step = [ssl, &bytes] { return SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())); };
    if (tls_step(connection, step, "TLS write") == 0)
        zabbix_failure(connection.where, "connection dropped while sending");
}

std::size_t receive_some(const Connection& connection, char* buffer, std::size_t size) {
    if (!connection.ssl) return receive_plain(connection, buffer, size);
    SSL* ssl = connection.ssl.get();
    const auto step = [ssl, buffer, size] { return SSL_read(ssl, buffer, static_cast<int>(size)); };
    return static_cast<std::size_t>(tls_step(connection, step, "TLS read"));
}

// Exactly size bytes, or fewer when the server closes the connection first.
std::string receive_up_to(const Connection& connection, std::size_t size) {
    std::string bytes(size, '\0');
    std::size_t have = 0;
    while (have < size) {
        const std::size_t received = receive_some(connection, bytes.data() + have, size - have);
        if (received == 0) break;
        have += received;
    }
    bytes.resize(have);
    return bytes;
}

// Closes politely; the server may have gone already, which changes nothing.
void close_tls(const Connection& connection) {
    if (!connection.ssl) return;
    SSL_shutdown(connection.ssl.get());
    char buffer[1024];
    const int pending = BIO_read(connection.to_network, buffer, sizeof buffer);
    if (pending > 0) (void)!send(fd_of(connection), buffer, static_cast<std::size_t>(pending), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string frame(const std::string& payload) {
    std::string bytes = "ZBXD";
    bytes += static_cast<char>(protocol_flag);
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((size >> shift) & 0xFF);
    bytes.append(4, '\0');
    return bytes + payload;
}

std::string hex_text(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += (text.empty() ? "" : " ");
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::uint32_t announced_size(const std::string& header) {
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(header[5 + i]);
    return size;
}

// The payload size the reply's header announces, after checking that the
// header is a whole Zabbix frame header.
std::uint32_t reply_size(const std::string& header, const Where& where) {
    if (header.empty()) zabbix_failure(where, "the server closed the connection without a reply");
    if (header.compare(0, 4, "ZBXD", 0, std::min<std::size_t>(4, header.size())) != 0 ||
        (header.size() > 4 && static_cast<unsigned char>(header[4]) != protocol_flag))
        zabbix_failure(where, "the reply is not a Zabbix frame (it begins " + hex_text(header) + ")");
    if (header.size() < header_size)
        zabbix_failure(where, "connection dropped after " + std::to_string(header.size()) +
                                  " bytes of the reply header");
    const std::uint32_t size = announced_size(header);
    if (size > max_reply_size)
        zabbix_failure(where, "the reply announces " + std::to_string(size) + " bytes, more than the " +
                                  std::to_string(max_reply_size) + " a reply may have");
    return size;
}

void check_payload_size(const std::string& payload, std::uint32_t size, const Where& where) {
    if (payload.size() < size)
        zabbix_failure(where, "connection dropped after " + std::to_string(payload.size()) + " of " +
                                  std::to_string(size) + " bytes of the reply");
}

std::string receive_reply(Connection& connection) {
    connection.stage = "while reading the reply";
    const std::uint32_t size = reply_size(receive_up_to(connection, header_size), connection.where);
    const std::string payload = receive_up_to(connection, size);
    check_payload_size(payload, size, connection.where);
    return payload;
}

std::string shown(const std::string& text) {
    return text.size() <= shown_reply_size ? text : text.substr(0, shown_reply_size) + "...";
}

// "processed: 0; failed: 1; ..." tells a refused value from an accepted one.
bool refused(const std::string& info) {
    const auto at = info.find("failed: ");
    if (at == std::string::npos) return false;
    std::uint64_t failed = 0;
    const auto [end, error] = std::from_chars(info.data() + at + 8, info.data() + info.size(), failed);
    return error == std::errc::result_out_of_range || (error == std::errc{} && failed > 0);
}

SendResult read_answer(const Where& where, const std::string& payload) {
    const Json reply = Json::parse(payload, nullptr, false);
    if (reply.is_discarded() || !reply.is_object())
        zabbix_failure(where, "the reply is not a JSON object: " + shown(payload));
    const auto response = reply.find("response");
    if (response == reply.end() || !response->is_string())
        zabbix_failure(where, "the reply has no \"response\": " + shown(payload));
    const auto info = reply.find("info");
    const std::string info_text = info != reply.end() && info->is_string() ? info->get<std::string>() : "";
    if (*response != "success")
        zabbix_failure(where, "the server answered \"" + response->get<std::string>() + "\"" +
                                             (info_text.empty() ? "" : ": " + info_text));
    return SendResult{!refused(info_text), info_text};
}

std::string request_payload(const std::string& zabbix_host, const std::string& key, const Json& value,
                            const Where& where) {
    // Filled member by member: initializer lists would copy every value twice,
    // which shows in a run that sends several hundred values.
    Json request = Json::object();
    request["request"] = "sender data";
    Json& item = request["data"].emplace_back(Json::object());
    item["host"] = zabbix_host;
    item["key"] = key;
    item["value"] = value_text(value);
    try {
        return request.dump();
    } catch (const Json::type_error&) {
        zabbix_failure(where, "the host name, key or value is not valid UTF-8");
    }
}

}  // namespace

SendResult send_zabbix(const ZabbixServer& server, const std::string& zabbix_host, const std::string& key,
                       const Json& value) {
    const Where where{server_text(server), key};
    const std::string request = frame(request_payload(zabbix_host, key, value, where));
    Connection connection = open_connection(server, where);
    if (server.psk) start_tls(connection, *server.psk);
    send_all(connection, request);
    const std::string reply = receive_reply(connection);
    close_tls(connection);
    return read_answer(connection.where, reply);
}

SendResult parse_sender_reply(const std::string& reply, const std::string& server, const std::string& key) {
    const Where where{server, key};
    const std::uint32_t size = reply_size(reply.substr(0, header_size), where);
    const std::string payload = reply.substr(header_size, size);
    check_payload_size(payload, size, where);
    return read_answer(where, payload);
}

}  // namespace support
