#include "kit/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kit {
namespace {

void drain(int fd, std::string& into, bool& open) {
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR) open = false;
}

// Everything the child needs, made before the fork: the tests run servers in
// threads, and a child that allocates between fork and exec can deadlock on
// an allocator lock one of those threads held at the fork.
struct ChildPlan {
    std::vector<std::string> argv_text;
    std::vector<std::string> env_text;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

ChildPlan plan_child(const std::vector<std::string>& args, const RunOptions& options) {
    ChildPlan plan;
    plan.argv_text.push_back(options.argv0.value_or(options.program));
    plan.argv_text.insert(plan.argv_text.end(), args.begin(), args.end());
    plan.env_text.push_back("PATH=/usr/bin:/bin");
    // Keep the sanitizer settings of the test build in the child.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = getenv(name)) plan.env_text.push_back(std::string(name) + "=" + v);
    for (const auto& [k, v] : options.env) plan.env_text.push_back(k + "=" + v);
    for (auto& a : plan.argv_text) plan.argv.push_back(a.data());
    plan.argv.push_back(nullptr);
    for (auto& e : plan.env_text) plan.envp.push_back(e.data());
    plan.envp.push_back(nullptr);
    return plan;
}

// Only async-signal-safe calls from here to execve.
[[noreturn]] void exec_child(const ChildPlan& plan, const RunOptions& options, int out_fd, int err_fd) {
    if (options.stdout_path) {
        const int fd = open(options.stdout_path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
    } else {
        dup2(out_fd, 1);
    }
    dup2(err_fd, 2);
    const int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, 0);
    if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(126);
    execve(options.program.c_str(), plan.argv.data(), plan.envp.data());
    _exit(127);
}

}  // namespace

std::string probe_under_test() {
    const char* other = getenv("BMC_PROBE_UNDER_TEST");
    return other != nullptr && *other != '\0' ? other : BMC_PROBE_BINARY;
}

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options) {
    const ChildPlan plan = plan_child(args, options);
    // Close-on-exec, so that no other child started meanwhile holds our pipes
    // open; dup2 clears the flag on the child's own 1 and 2.
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) exec_child(plan, options, out_pipe[1], err_pipe[1]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (options.while_running) options.while_running(pid);
    RunResult result;
    bool out_open = true, err_open = true, killed = false;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        const int ready = poll(fds, 2, 100);
        if (ready > 0) {
            if (out_open && (fds[0].revents & (POLLIN | POLLHUP))) drain(out_pipe[0], result.out, out_open);
            if (err_open && (fds[1].revents & (POLLIN | POLLHUP))) drain(err_pipe[0], result.err, err_open);
        }
        if (!killed && std::chrono::steady_clock::now() - started > options.kill_after) {
            kill(pid, SIGKILL);
            killed = true;
        }
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return result;
}

}  // namespace kit
