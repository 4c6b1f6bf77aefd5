#include "run/settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/failure.h"

namespace {

struct Argv {
    std::vector<std::string> words;
    std::vector<char*> pointers;
    explicit Argv(std::vector<std::string> w) : words(std::move(w)) {
        for (auto& word : words) pointers.push_back(word.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
};

TEST(Settings, SixArgumentsAreTakenAsGivenAndThePasswordIsWiped) {
    const std::string megabyte(1 << 20, 'p');
    Argv argv({"bmc-probe", "discoveryOpenBMC", "", "10.0.0.1:8443/", "m\xc3\xa1rio", megabyte, " debug"});
    const auto settings = run::parse_command_line(argv.argc(), argv.pointers.data());
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->mode, "discoveryOpenBMC");
    EXPECT_EQ(settings->host, "");
    EXPECT_EQ(settings->url_base, "10.0.0.1:8443/");
    EXPECT_EQ(settings->user, "m\xc3\xa1rio");
    EXPECT_EQ(settings->pwd, megabyte);
    EXPECT_EQ(settings->zabbix_host, " debug");
    EXPECT_EQ(std::strlen(argv.pointers[5]), 0u);  // the process list shows no password
    EXPECT_EQ(std::string(argv.pointers[4]), "m\xc3\xa1rio");
}

TEST(Settings, OneArgumentSetsOnlyTheMode) {
    Argv argv({"bmc-probe", "version"});
    const auto settings = run::parse_command_line(argv.argc(), argv.pointers.data());
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->mode, "version");
    EXPECT_FALSE(settings->zabbix_host);
    EXPECT_THROW(run::required_zabbix_host(*settings), support::Failure);
}

TEST(Settings, OtherCountsAreRefused) {
    for (int count : {0, 2, 3, 4, 5, 7, 8}) {
        std::vector<std::string> words = {"bmc-probe"};
        for (int i = 0; i < count; ++i) words.push_back("version");
        Argv argv(words);
        EXPECT_FALSE(run::parse_command_line(argv.argc(), argv.pointers.data())) << count;
    }
}

}  // namespace
