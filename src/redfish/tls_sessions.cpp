#include "redfish/tls_sessions.h"

namespace redfish::https {
namespace {

void lock_sessions(CURL* /*handle*/, curl_lock_data /*data*/, curl_lock_access /*access*/, void* user) {
    static_cast<TlsSessions*>(user)->lock.lock();
}

void unlock_sessions(CURL* /*handle*/, curl_lock_data /*data*/, void* user) {
    static_cast<TlsSessions*>(user)->lock.unlock();
}

}  // namespace

std::unique_ptr<TlsSessions> tls_sessions() {
    auto sessions = std::make_unique<TlsSessions>();
    CURLSH* share = curl_share_init();
    if (share == nullptr) return sessions;
    const bool made = curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK &&
                      curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock_sessions) == CURLSHE_OK &&
                      curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock_sessions) == CURLSHE_OK &&
                      curl_share_setopt(share, CURLSHOPT_USERDATA, sessions.get()) == CURLSHE_OK;
    if (made) sessions->share = share;
    else curl_share_cleanup(share);
    return sessions;
}

}  // namespace redfish::https
