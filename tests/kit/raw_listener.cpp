#include "kit/raw_listener.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kit {

RawListener::RawListener(std::function<void(int, const std::atomic<bool>&)> on_connection)
    : handler(std::move(on_connection)) {
    listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listen_fd < 0 || bind(listen_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listen_fd, 8) != 0 || getsockname(listen_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("raw listener: cannot listen on 127.0.0.1");
    bound_port = ntohs(address.sin_port);
    worker = std::thread([this] {
        while (!stopping) {
            pollfd ready{listen_fd, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0) continue;
            const int client = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++accepted;
            handler(client, stopping);
            close(client);
        }
    });
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
