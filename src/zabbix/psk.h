#pragma once
// TLS with a pre-shared key, as Zabbix speaks it, over memory buffers: the
// caller's socket carries every byte, so its time limits and error handling
// hold for TLS too.
#include <openssl/ssl.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zabbix/frame.h"
#include "zabbix/server.h"

namespace zabbix {

// One TLS context for a run: only the protocol settings; every connection
// brings its own key.
using PskContext = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

PskContext make_psk_context(const ZabbixWhere& where);

// The socket under a TLS connection.
struct TlsTransport {
    std::function<void(const char* data, std::size_t size)> send;
    std::function<std::size_t(char* buffer, std::size_t size)> receive;  // 0 once the peer has closed
};

struct PskMaterial {
    std::string identity;
    std::vector<unsigned char> key;
};

struct PskChannel {
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl{nullptr, SSL_free};
    BIO* from_network = nullptr;  // owned by ssl
    BIO* to_network = nullptr;    // owned by ssl
    PskMaterial psk;
};

// Sets the channel up with the PSK and runs the handshake; fails naming where.
void psk_handshake(PskChannel& channel, SSL_CTX* context, const ZabbixPsk& psk, const TlsTransport& transport,
                   const ZabbixWhere& where);

// Writes all of bytes; fails when the server closes the connection first.
void psk_write(PskChannel& channel, const std::string& bytes, const TlsTransport& transport, const ZabbixWhere& where);

// Some decrypted bytes, or 0 once the server has closed the connection.
std::size_t psk_read(PskChannel& channel, char* buffer, std::size_t size, const TlsTransport& transport,
                     const ZabbixWhere& where);

// The close-notify alert to send; the server may have gone already, which
// changes nothing.
std::string psk_close(PskChannel& channel);

}  // namespace zabbix
