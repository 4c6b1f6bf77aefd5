#include "support/console.h"

#include <cstdio>

namespace support {

void print_text(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void print_line(std::string_view text) {
    print_text(text);
    std::fputc('\n', stdout);
}

bool flush_console() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

}  // namespace support
