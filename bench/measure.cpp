// bench-measure: runs one command with its standard output thrown away and
// prints "WALL_US CPU_US MAXRSS_KB EXIT" for it. A small C++ parent, because a
// child spawned by a big process (Python) inherits that process's peak RSS.
//   bench-measure COMMAND [ARGUMENTS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench-measure COMMAND [ARGUMENTS...]\n", stderr);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return 1;
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const auto micros = [](const timeval& t) { return t.tv_sec * 1000000L + t.tv_usec; };
    std::printf("%ld %ld %ld %d\n", static_cast<long>(wall.count()), micros(usage.ru_utime) + micros(usage.ru_stime),
                usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}
