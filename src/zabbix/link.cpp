#include "zabbix/link.h"

#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "support/failure.h"
#include "support/run_guard.h"

namespace zabbix {
namespace {

struct SocketCloser {
    void operator()(const int* fd) const {
        if (*fd >= 0) close(*fd);
        delete fd;
    }
};
using Socket = std::unique_ptr<int, SocketCloser>;

// One connection, for one request. The socket stays non-blocking; with PSK the
// channel runs over it.
struct Connection {
    support::RunGuard* guard;
    Socket socket{};
    ZabbixWhere where{};
    std::string stage{};  // what the connection is doing, for the message when it drops
    std::optional<PskChannel> tls{};
};

void wait_for(support::RunGuard& guard, int fd, short events) {
    pollfd ready{fd, events, 0};
    while (true) {
        const int status = poll(&ready, 1, support::poll_time_left(guard));
        if (status > 0) return;
        if (status == 0) support::raise_time_limit(guard);
        if (errno != EINTR) return;  // the next socket call reports the error
    }
}

std::string system_error(int error) { return std::strerror(error); }

Socket connect_address(support::RunGuard& guard, const ResolvedAddress& address, std::string& reason) {
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
        wait_for(guard, *socket, POLLOUT);
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

const std::vector<ResolvedAddress>* resolve(ZabbixLink& link, const ZabbixEndpoint& endpoint, std::string& reason) {
    const std::string name = endpoint_text(endpoint);
    if (const auto known = link.resolved.find(name); known != link.resolved.end()) return &known->second;
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
    return &(link.resolved[name] = std::move(found));
}

Socket connect_endpoint(ZabbixLink& link, const ZabbixEndpoint& endpoint, std::string& reason) {
    const auto* addresses = resolve(link, endpoint, reason);
    if (addresses == nullptr) return nullptr;
    if (addresses->empty()) reason = "the name has no address";
    for (const auto& address : *addresses) {
        if (Socket socket = connect_address(*link.guard, address, reason)) return socket;
    }
    return nullptr;
}

// The cluster's nodes in order, the one that answered before moved to the front.
std::vector<ZabbixEndpoint> node_order(const ZabbixLink& link) {
    std::vector<ZabbixEndpoint> order = link.server.nodes;
    if (link.answering_node) {
        const auto known = std::find_if(order.begin(), order.end(), [&](const ZabbixEndpoint& node) {
            return node.host == link.answering_node->host && node.port == link.answering_node->port;
        });
        if (known != order.end()) std::rotate(order.begin(), known, known + 1);
    }
    return order;
}

[[noreturn]] void dropped(const Connection& connection, int error) {
    zabbix_failure(connection.where, "connection dropped " + connection.stage + ": " + system_error(error));
}

void send_plain(const Connection& connection, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = send(*connection.socket, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_for(*connection.guard, *connection.socket, POLLOUT);
        } else if (sent < 0 && errno != EINTR) {
            dropped(connection, errno);
        }
    }
}

// Some bytes, or 0 once the server has closed the connection.
std::size_t receive_plain(const Connection& connection, char* buffer, std::size_t size) {
    while (true) {
        const ssize_t received = recv(*connection.socket, buffer, size, 0);
        if (received >= 0) return static_cast<std::size_t>(received);
        if (errno == EAGAIN || errno == EWOULDBLOCK) wait_for(*connection.guard, *connection.socket, POLLIN);
        else if (errno != EINTR) dropped(connection, errno);
    }
}

TlsTransport transport_of(const Connection& connection) {
    return {[&connection](const char* data, std::size_t size) { send_plain(connection, data, size); },
            [&connection](char* buffer, std::size_t size) { return receive_plain(connection, buffer, size); }};
}

void start_tls(ZabbixLink& link, Connection& connection, const ZabbixPsk& psk) {
    connection.stage = "during the TLS handshake (PSK)";
    if (!link.psk_context) link.psk_context = make_psk_context(connection.where);
    psk_handshake(connection.tls.emplace(), link.psk_context.get(), psk, transport_of(connection), connection.where);
}

// Connects to the first node that takes the connection, TLS included. It is
// made in place: a TLS channel must not move once it has been set up.
void open_connection(ZabbixLink& link, Connection& connection, const ZabbixWhere& where) {
    if (link.server.nodes.empty()) zabbix_failure(where, "no server address");
    std::string reasons;
    for (const auto& node : node_order(link)) {
        std::string reason;
        connection.socket = connect_endpoint(link, node, reason);
        if (connection.socket) {
            connection.where = where;
            connection.where.server = endpoint_text(node);
            try {
                if (link.server.psk) start_tls(link, connection, *link.server.psk);
                link.answering_node = node;
                return;
            } catch (const support::Failure& failure) {
                reason = failure_reason(failure.what(), connection.where);
                connection.tls.reset();
            }
        }
        reasons += (reasons.empty() ? "" : "; ") + endpoint_text(node) + ": " + reason;
    }
    zabbix_failure(where, "cannot connect (" + reasons + ")");
}

void send_all(Connection& connection, const std::string& bytes) {
    connection.stage = "while sending";
    if (!connection.tls) return send_plain(connection, bytes.data(), bytes.size());
    psk_write(*connection.tls, bytes, transport_of(connection), connection.where);
}

std::size_t receive_some(Connection& connection, char* buffer, std::size_t size) {
    if (!connection.tls) return receive_plain(connection, buffer, size);
    return psk_read(*connection.tls, buffer, size, transport_of(connection), connection.where);
}

// Exactly size bytes, or fewer when the server closes the connection first.
std::string receive_up_to(Connection& connection, std::size_t size) {
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

// Closes politely and without waiting: the server may have gone already.
void close_tls(Connection& connection) {
    if (!connection.tls) return;
    const std::string alert = psk_close(*connection.tls);
    if (!alert.empty()) (void)!send(*connection.socket, alert.data(), alert.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// The answer, the TLS connection closed after it whatever it says.
SendResult receive_answer(Connection& connection) {
    connection.stage = "while reading the reply";
    const auto receive = [&connection](std::size_t size) { return receive_up_to(connection, size); };
    try {
        SendResult result = read_reply(receive, connection.where);
        close_tls(connection);
        return result;
    } catch (const support::Failure&) {
        close_tls(connection);
        throw;
    }
}

SendResult exchange(ZabbixLink& link, const GatheredRequest& request) {
    Connection connection{link.guard};
    open_connection(link, connection,
                    {server_text(link.server), request.keys.front(), request.keys.back(), request.keys.size()});
    send_all(connection, sender_frame(request.items, clock_now()));
    return receive_answer(connection);
}

}  // namespace

void send_zabbix(ZabbixLink& link, const std::string& zabbix_host, const std::string& key, const support::Json& value,
                 Refusal refusal) {
    const auto item = sender_item(zabbix_host, key, value, next_moment(link.gathered, clock_now()));
    if (!item)
        zabbix_failure({server_text(link.server), key, key, 1}, "the host name, key or value is not valid UTF-8");
    gather(link.gathered, refusal, key, *item);
}

SendResult send_request(ZabbixLink& link, const GatheredRequest& request) { return exchange(link, request); }

std::vector<RequestAnswer> send_gathered(ZabbixLink& link) {
    std::vector<GatheredRequest> requests;
    requests.swap(link.gathered.requests);
    std::vector<RequestAnswer> answers;
    for (auto& request : requests) {
        SendResult result = exchange(link, request);
        answers.push_back({request.refusal, std::move(request.keys), std::move(result)});
    }
    return answers;
}

}  // namespace zabbix
