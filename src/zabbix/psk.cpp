#include "zabbix/psk.h"

#include <openssl/err.h>

#include <cstring>

#include "support/text.h"

namespace zabbix {
namespace {

// Zabbix 6.0's own defaults for PSK connections with OpenSSL.
const char* const tls12_psk_ciphers = "kECDHEPSK+AES128:kPSK+AES128";
const char* const tls13_psk_ciphersuites = "TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256";
constexpr std::size_t tls_buffer_size = 16384;  // a TLS record's largest plaintext

std::string tls_error_text() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += (text.empty() ? "" : "; ") + std::string(buffer);
    }
    return text.empty() ? "no detail from OpenSSL" : text;
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
    const std::string bytes = support::hex_bytes(hex);
    return {bytes.begin(), bytes.end()};
}

// The encrypted bytes TLS has written for the network and nobody has sent yet.
std::string pending_output(const PskChannel& channel) {
    std::string bytes;
    char buffer[tls_buffer_size];
    int pending;
    while ((pending = BIO_read(channel.to_network, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(pending));
    return bytes;
}

void flush(const PskChannel& channel, const TlsTransport& transport) {
    const std::string bytes = pending_output(channel);
    if (!bytes.empty()) transport.send(bytes.data(), bytes.size());
}

bool feed(const PskChannel& channel, const TlsTransport& transport) {
    char buffer[tls_buffer_size];
    const std::size_t received = transport.receive(buffer, sizeof buffer);
    if (received == 0) return false;
    BIO_write(channel.from_network, buffer, static_cast<int>(received));
    return true;
}

// Runs one TLS step (handshake, write or read) to its end; 0 when the server
// closed the connection.
int tls_step(const PskChannel& channel, const TlsTransport& transport, const std::function<int()>& step,
             const std::string& what, const ZabbixWhere& where) {
    while (true) {
        ERR_clear_error();
        const int result = step();
        flush(channel, transport);
        if (result > 0) return result;
        const int error = SSL_get_error(channel.ssl.get(), result);
        if (error == SSL_ERROR_WANT_READ) {
            if (!feed(channel, transport)) return 0;
        } else if (error == SSL_ERROR_ZERO_RETURN) {
            return 0;
        } else if (error != SSL_ERROR_WANT_WRITE) {
            zabbix_failure(where, what + " failed: " + tls_error_text());
        }
    }
}

}  // namespace

PskContext make_psk_context(const ZabbixWhere& where) {
    PskContext context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    SSL_CTX* ctx = context.get();
    if (ctx == nullptr || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(ctx, tls12_psk_ciphers) != 1 ||
        SSL_CTX_set_ciphersuites(ctx, tls13_psk_ciphersuites) != 1)
        zabbix_failure(where, "cannot set up TLS: " + tls_error_text());
    // No certificate is trusted, so a server that does not take the PSK fails the handshake.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_psk_client_callback(ctx, give_psk);
    return context;
}

void psk_handshake(PskChannel& channel, SSL_CTX* context, const ZabbixPsk& psk, const TlsTransport& transport,
                   const ZabbixWhere& where) {
    channel.psk = {psk.identity, key_bytes(psk.key_hex)};
    channel.ssl.reset(SSL_new(context));
    channel.from_network = BIO_new(BIO_s_mem());
    channel.to_network = BIO_new(BIO_s_mem());
    if (!channel.ssl || !channel.from_network || !channel.to_network)
        zabbix_failure(where, "cannot set up TLS: " + tls_error_text());
    BIO_set_mem_eof_return(channel.from_network, -1);
    SSL_set_bio(channel.ssl.get(), channel.from_network, channel.to_network);
    SSL_set_app_data(channel.ssl.get(), &channel.psk);
    SSL* ssl = channel.ssl.get();
    if (tls_step(
            channel, transport, [ssl] { return SSL_connect(ssl); }, "TLS handshake (PSK)", where) == 0)
        zabbix_failure(where, "the server closed the connection during the TLS handshake (PSK)");
}

void psk_write(PskChannel& channel, const std::string& bytes, const TlsTransport& transport, const ZabbixWhere& where) {
    SSL* ssl = channel.ssl.get();
    const auto step = [ssl, &bytes] { return SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())); };
    if (tls_step(channel, transport, step, "TLS write", where) == 0)
        zabbix_failure(where, "connection dropped while sending");
}

std::size_t psk_read(PskChannel& channel, char* buffer, std::size_t size, const TlsTransport& transport,
                     const ZabbixWhere& where) {
    SSL* ssl = channel.ssl.get();
    const auto step = [ssl, buffer, size] { return SSL_read(ssl, buffer, static_cast<int>(size)); };
    return static_cast<std::size_t>(tls_step(channel, transport, step, "TLS read", where));
}

std::string psk_close(PskChannel& channel) {
    SSL_shutdown(channel.ssl.get());
    return pending_output(channel);
}

}  // namespace zabbix
