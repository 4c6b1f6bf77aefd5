#pragma once
// A bare TCP listener on 127.0.0.1 (an ephemeral port) for peers that do not
// speak the protocol they should: each accepted connection is handed to the
// test's function in a background thread, one after another, and closed when
// it returns.
#include <atomic>
#include <functional>
#include <thread>

namespace kit {

struct RawListener {
    // on_connection gets the socket and a flag that turns true when the
    // listener stops; it should return soon after.
    explicit RawListener(std::function<void(int fd, const std::atomic<bool>& stopping)> on_connection);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    int port() const { return bound_port; }
    int connections() const { return accepted; }

private:
    std::function<void(int, const std::atomic<bool>&)> handler;
    int listen_fd = -1;
    int bound_port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    std::thread worker;
};

// Reads and drops what the peer sends until it closes or the listener stops.
void swallow_until_closed(int fd, const std::atomic<bool>& stopping);

// A TCP socket on 127.0.0.1 with an ephemeral port (set in port), bound but
// not yet listening: until listen(), connections to it are refused.
int bind_loopback(int& port);

// Accepts connections on listen_fd until stopping turns true, one after
// another: each is counted, handed to handle and closed when it returns. A
// peer that is gone must not kill the test program while the handler writes,
// so SIGPIPE is blocked in the calling thread.
void accept_each(int listen_fd, const std::atomic<bool>& stopping, std::atomic<int>& accepted,
                 const std::function<void(int fd)>& handle);

}  // namespace kit
