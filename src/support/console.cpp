#include "support/console.h"

#include <atomic>
#include <cstdio>

namespace support {
namespace {

std::atomic<bool> silenced{false};

}  // namespace

void silence_console() { silenced = true; }

void print_text(std::string_view text) {
    if (!silenced) std::fwrite(text.data(), 1, text.size(), stdout);
}

void print_line(std::string_view text) {
    if (silenced) return;
    print_text(text);
    std::fputc('\n', stdout);
}

bool flush_console() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

}  // namespace support
