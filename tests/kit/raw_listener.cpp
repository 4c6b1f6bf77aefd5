#include "kit/raw_listener.h"

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kit {

int bind_loopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("test listener: cannot bind 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

void accept_each(int listen_fd, const std::atomic<bool>& stopping, std::atomic<int>& accepted,
                 const std::function<void(int)>& handle) {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    while (!stopping) {
        pollfd ready{listen_fd, POLLIN, 0};
        if (poll(&ready, 1, 20) <= 0) continue;
        const int client = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        ++accepted;
        handle(client);
        close(client);
    }
}

RawListener::RawListener(std::function<void(int, const std::atomic<bool>&)> on_connection)
    : handler(std::move(on_connection)) {
    listen_fd = bind_loopback(bound_port);
    if (listen(listen_fd, 8) != 0) throw std::runtime_error("raw listener: cannot listen on 127.0.0.1");
    worker = std::thread([this] { accept_each(listen_fd, stopping, accepted, [this](int fd) { handler(fd, stopping); }); });
}

RawListener::~RawListener() {
    stopping = true;
    worker.join();
    close(listen_fd);
}

void swallow_until_closed(int fd, const std::atomic<bool>& stopping) {
    char buffer[4096];
    while (!stopping) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        if (recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
}

}  // namespace kit
