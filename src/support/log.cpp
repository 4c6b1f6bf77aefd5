#include "support/log.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace support {

void log_line(std::string_view text) {
    std::string line(text);
    line += '\n';
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to log to: the process goes on
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace support
