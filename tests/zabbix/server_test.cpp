#include "zabbix/server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/failure.h"

namespace {

namespace fs = std::filesystem;
using zabbix::ZabbixServerSources;

const char* const psk_key = "1f87b595725ac58dd977beef14b97461a7c1045b9a1c963065002c5473194952";

struct ConfigFolder {
    fs::path root = fs::temp_directory_path() /
                    ("probe-zabbix-conf-" + std::to_string(getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ConfigFolder() { fs::create_directories(root); }
    ~ConfigFolder() { fs::remove_all(root); }
    std::string write(const std::string& name, const std::string& text) const {
        const auto path = root / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path.string();
    }
};

ZabbixServerSources from_config(const std::string& path) { return {std::nullopt, path, {}}; }

std::string failure_message(const ZabbixServerSources& sources) {
    try {
        zabbix::zabbix_server_from(sources);
    } catch (const support::Failure& failure) {
        EXPECT_EQ(failure.kind, support::FailureKind::ZabbixConfig);
        return failure.what();
    }
    ADD_FAILURE() << "no failure";
    return "";
}

TEST(ZabbixServer, ServerActiveForms) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"zbx.example.com", "zbx.example.com:10051"},
        {"10.0.0.5:20051", "10.0.0.5:20051"},
        {"[::1]:30051", "[::1]:30051"},
        {"[12fc::1]", "[12fc::1]:10051"},
        {"::1", "[::1]:10051"},
        {"first:1,second:2", "first:1"},
        {" zbx , other", "zbx:10051"},
        {"node1;node2:20051;node3", "node1:10051;node2:20051;node3:10051"},
        {"node1;node2:2,cluster2.node1;cluster2.node2,zabbix.domain", "node1:10051;node2:2"},
    };
    ConfigFolder folder;
    for (const auto& [value, expected] : cases) {
        const auto path = folder.write("agent.conf", "ServerActive=" + value + "\n");
        EXPECT_EQ(zabbix::server_text(zabbix::zabbix_server_from(from_config(path))), expected) << value;
        EXPECT_EQ(zabbix::server_text(zabbix::zabbix_server_from({value, std::nullopt, {}})), expected) << value;
    }
}

TEST(ZabbixServer, UnusableAddressesAreFailures) {
    ConfigFolder folder;
    for (const std::string value : {"", ",other", "host:0", "host:70000", "host:abc", "[::1", "[::1]x", ":123",
                                    "a;;b", "host:"}) {
        const auto path = folder.write("agent.conf", "ServerActive=" + value + "\n");
        const std::string message = failure_message(from_config(path));
        EXPECT_NE(message.find(path + ": ServerActive"), std::string::npos) << value << ": " << message;
        EXPECT_NE(failure_message({value, std::nullopt, {}}).find("BMC_PROBE_ZABBIX_SERVER"), std::string::npos)
            << value;
    }
}

TEST(ZabbixServer, ReadsTheFileAsTheAgentDoes) {
    ConfigFolder folder;
    folder.write("agent.d/10-site.conf", "ServerActive=included:3\n");
    folder.write("agent.d/ignored.txt", "ServerActive=wrong\n");
    const auto path = folder.write("agent.conf",
                                   "# ServerActive=commented\n"
                                   "\n"
                                   "   ServerActive = early:1  \r\n"
                                   "Hostname=whatever\n"
                                   "Include=" +
                                       (folder.root / "agent.d/*.conf").string() +
                                       "\n"
                                       "\tServerActive=\tlast:2\n");
    EXPECT_EQ(zabbix::server_text(zabbix::zabbix_server_from(from_config(path))), "last:2");

    const auto included_last = folder.write("agent2.conf", "ServerActive=early:1\nInclude=" +
                                                               (folder.root / "agent.d/10-site.conf").string() + "\n");
    EXPECT_EQ(zabbix::server_text(zabbix::zabbix_server_from(from_config(included_last))), "included:3");
}

TEST(ZabbixServer, BrokenOrUnreadableFilesAreFailures) {
    ConfigFolder folder;
    const auto no_server = folder.write("passive.conf", "Server=10.0.0.1\nHostname=x\n");
    EXPECT_NE(failure_message(from_config(no_server)).find("no ServerActive"), std::string::npos);
    const auto bad_line = folder.write("bad.conf", "ServerActive=a\njust words\n");
    EXPECT_NE(failure_message(from_config(bad_line)).find(bad_line + ", line 2"), std::string::npos);
    const auto missing_include = folder.write("include.conf", "Include=" + (folder.root / "nothing.conf").string());
    EXPECT_NE(failure_message(from_config(missing_include)).find("Include="), std::string::npos);
    EXPECT_NE(failure_message(from_config(folder.root.string())).find("not a regular file"), std::string::npos);
    EXPECT_NE(failure_message(from_config((folder.root / "absent.conf").string())).find("absent.conf"),
              std::string::npos);
    if (geteuid() != 0) {
        const auto locked = folder.write("locked.conf", "ServerActive=a\n");
        fs::permissions(locked, fs::perms::none);
        EXPECT_NE(failure_message(from_config(locked)).find("cannot be read"), std::string::npos);
    }
}

TEST(ZabbixServer, AgentFilesInTurnThenTheLocalDefault) {
    ConfigFolder folder;
    const auto absent = (folder.root / "zabbix_agentd.conf").string();
    const auto second = (folder.root / "zabbix_agent2.conf").string();
    const auto fallback = zabbix::zabbix_server_from({std::nullopt, std::nullopt, {absent, second}});
    EXPECT_EQ(zabbix::server_text(fallback), "127.0.0.1:10051");
    EXPECT_FALSE(fallback.psk);
    folder.write("zabbix_agent2.conf", "ServerActive=agent2-server\n");
    EXPECT_EQ(zabbix::server_text(zabbix::zabbix_server_from({std::nullopt, std::nullopt, {absent, second}})),
              "agent2-server:10051");
    folder.write("zabbix_agentd.conf", "ServerActive=agentd-server\n");
    EXPECT_EQ(zabbix::server_text(zabbix::zabbix_server_from({std::nullopt, std::nullopt, {absent, second}})),
              "agentd-server:10051");
}

TEST(ZabbixServer, PskSettings) {
    ConfigFolder folder;
    const auto key_file = folder.write("agent.psk", std::string(psk_key) + "\n");
    const std::string base = "ServerActive=zbx\nTLSPSKIdentity=probe-psk\nTLSPSKFile=" + key_file + "\n";
    const auto server = zabbix::zabbix_server_from(from_config(folder.write("psk.conf", base + "TLSConnect=psk\n")));
    ASSERT_TRUE(server.psk);
    EXPECT_EQ(server.psk->identity, "probe-psk");
    EXPECT_EQ(server.psk->key_hex, psk_key);
    EXPECT_FALSE(
        zabbix::zabbix_server_from(from_config(folder.write("plain.conf", base + "TLSConnect=unencrypted\n"))).psk);
    EXPECT_FALSE(zabbix::zabbix_server_from(from_config(folder.write("none.conf", base))).psk);

    const std::vector<std::pair<std::string, std::string>> broken = {
        {"ServerActive=zbx\nTLSConnect=psk\nTLSPSKFile=" + key_file + "\n", "needs TLSPSKIdentity"},
        {"ServerActive=zbx\nTLSConnect=psk\nTLSPSKIdentity=probe-psk\n", "needs TLSPSKFile"},
        {base + "TLSConnect=cert\n", "certificate-based TLS is not supported"},
        {base + "TLSConnect=PSK\n", "is not one of unencrypted, psk, cert"},
        {"ServerActive=zbx\nTLSConnect=psk\nTLSPSKIdentity=i\nTLSPSKFile=" + (folder.root / "gone.psk").string(),
         "gone.psk cannot be read"},
    };
    for (const auto& [text, reason] : broken)
        EXPECT_NE(failure_message(from_config(folder.write("broken.conf", text))).find(reason), std::string::npos)
            << reason;

    for (const std::string& key : std::vector<std::string>{"0123456789abcdef", std::string(psk_key).substr(1), std::string(psk_key) + "zz",
                                  std::string(514, 'a')}) {
        folder.write("agent.psk", key);
        const std::string message = failure_message(from_config(folder.write("psk.conf", base + "TLSConnect=psk\n")));
        EXPECT_NE(message.find("does not hold a PSK"), std::string::npos) << message;
        EXPECT_EQ(message.find(key), std::string::npos) << "the key shows in: " << message;
    }
}

TEST(ZabbixServer, OverrideTakesTheAddressAndTheFileStillGivesThePsk) {
    ConfigFolder folder;
    const auto key_file = folder.write("agent.psk", psk_key);
    const auto path = folder.write("agent.conf", "Server=10.0.0.1\nTLSConnect=psk\nTLSPSKIdentity=id\nTLSPSKFile=" +
                                                     key_file + "\n");
    const auto server = zabbix::zabbix_server_from({"[::1]:1234", path, {}});
    EXPECT_EQ(zabbix::server_text(server), "[::1]:1234");
    ASSERT_TRUE(server.psk);
    EXPECT_EQ(server.psk->identity, "id");
}

TEST(ZabbixServer, EnvironmentVariablesNameTheServerAndTheFile) {
    ConfigFolder folder;
    const auto path = folder.write("agent.conf", "ServerActive=from-file:7\n");
    setenv("BMC_PROBE_ZABBIX_CONFIG", path.c_str(), 1);
    EXPECT_EQ(zabbix::server_text(zabbix::obtain_zabbix_server()), "from-file:7");
    setenv("BMC_PROBE_ZABBIX_SERVER", "from-env", 1);
    EXPECT_EQ(zabbix::server_text(zabbix::obtain_zabbix_server()), "from-env:10051");
    setenv("BMC_PROBE_ZABBIX_CONFIG", (folder.root / "absent.conf").c_str(), 1);
    EXPECT_THROW(zabbix::obtain_zabbix_server(), support::Failure);
    unsetenv("BMC_PROBE_ZABBIX_CONFIG");
    unsetenv("BMC_PROBE_ZABBIX_SERVER");
}

}  // namespace
