// The simulated BMC itself: that it answers as the captured bmcweb exchange
// shows, and that the standalone bmc-sim serves a whole run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "bmc-sim/bodies.h"
#include "kit/capture_stdout.h"
#include "kit/test_bmc.h"
#include "redfish/readers.h"
#include "redfish/session.h"
#include "support/json.h"

namespace {

support::Json captured_session_exchange() {
    return support::Json::parse(kit::testdata_bytes("a_healthy/session.json"));
}

TEST(SimulatedBmc, BodiesAreTheBytesBmcwebSends) {
    const auto exchange = captured_session_exchange();
    EXPECT_EQ(bmc_sim::bodies::session("k7GvQ2pZ0t", "monitor", "127.0.0.1"), exchange["login"]["body_text"]);
    EXPECT_EQ(bmc_sim::bodies::success(), exchange["logout"]["body_text"]);
    const auto& variants = exchange["variants"];
    EXPECT_EQ(support::Json::parse(bmc_sim::bodies::login_refused()), variants["login_wrong_password"]["body"]);
    EXPECT_EQ(support::Json::parse(bmc_sim::bodies::resource_not_found("Session", "Zz9Zz9Zz9Z")),
              variants["delete_of_unknown_session_id_with_a_live_token"]["body"]);
}

TEST(SimulatedBmc, TokensAndSessionIdsLookLikeBmcwebs) {
    auto bmc = kit::start_bmc();
    kit::stdout_of([&] { redfish::post_authToken(kit::link_for(kit::access_for(*bmc))->bmc); });
    const auto token = bmc->last_token();
    const auto path = bmc->last_session_path();
    const auto alphanumeric = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
    };
    EXPECT_EQ(token.size(), 20u);
    EXPECT_TRUE(alphanumeric(token)) << token;
    const std::string prefix = "/redfish/v1/SessionService/Sessions/";
    ASSERT_EQ(path.rfind(prefix, 0), 0u);
    EXPECT_EQ(path.size(), prefix.size() + 10);
    EXPECT_TRUE(alphanumeric(path.substr(prefix.size()))) << path;
}

struct Program {
    pid_t pid = -1;
    int out = -1;
};

Program spawn(const std::vector<std::string>& args) {
    // Made before the fork: only async-signal-safe calls between fork and exec.
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        close(pipe_fds[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    return {pid, pipe_fds[0]};
}

std::string first_line(int fd) {
    std::string line;
    char c = 0;
    pollfd poll_fd{fd, POLLIN, 0};
    while (poll(&poll_fd, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

int terminate(const Program& program) {
    kill(program.pid, SIGTERM);
    int status = 0;
    waitpid(program.pid, &status, 0);
    close(program.out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SimulatedBmc, StandaloneBinaryServesAWholeRunUntilTerminated) {
    const auto sim = std::filesystem::path(BMC_PROBE_BINARY).parent_path() / "bmc-sim";
    const auto cert_dir = std::filesystem::temp_directory_path() / ("bmc-sim-test-" + std::to_string(getpid()));
    std::filesystem::remove_all(cert_dir);
    const Program program = spawn({sim.string(), "--port", "0", "--scenario", kit::testdata_dir("a_healthy").string(),
                                   "--cert-dir", cert_dir.string()});
    const std::string line = first_line(program.out);
    if (line.rfind("listening 127.0.0.1:", 0) != 0) {
        terminate(program);
        FAIL() << "first line: " << line;
    }
    redfish::BmcAccess bmc_access;
    bmc_access.url_base = line.substr(std::string("listening ").size());
    bmc_access.user = "monitor";
    bmc_access.pwd = "x";
    std::vector<std::optional<support::Json>> documents;
    const auto link = kit::link_for(bmc_access);
    const auto printed = kit::stdout_of([&] {
        const auto session = redfish::post_authToken(link->bmc);
        ASSERT_TRUE(session.token);
        for (const auto& reader : redfish::kResourceReaders)
            documents.push_back(redfish::read_resource(link->bmc, reader, *session.token).document);
        redfish::delete_session(link->bmc, *session.token, session.session_uri);
    });
    EXPECT_EQ(printed, "Sessão encerrada com sucesso.\n");
    EXPECT_EQ(documents.size(), 5u);
    EXPECT_TRUE(std::all_of(documents.begin(), documents.end(), [](const auto& d) { return d && d->is_object(); }));
    EXPECT_EQ(terminate(program), 0);
    EXPECT_TRUE(std::filesystem::exists(cert_dir / "cert.pem"));
    EXPECT_TRUE(std::filesystem::exists(cert_dir / "key.pem"));
    std::filesystem::remove_all(cert_dir);
}

}  // namespace
