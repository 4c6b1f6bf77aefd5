// The real binary against every shape of command line.
#include <gtest/gtest.h>

#include <algorithm>


#include "kit/run_binary.h"

namespace {

const std::string kCritical =
    "Erro crítico -- Contactar Quorvane em: suporte@quorvane.com.br ou +55 11 4002-8922\n";
const std::string kRights = "© Quorvane Tecnologia Ltda. Todos os direitos reservados.\n";

// A Zabbix address nothing listens on: modes that do nothing never connect.
const std::map<std::string, std::string> kQuietEnv = {{"BMC_PROBE_ZABBIX_SERVER", "127.0.0.1:9"}};

TEST(CommandLine, WrongArgumentCountsPrintTheCriticalLineAndEndWithOne) {
    const std::vector<std::vector<std::string>> shapes = {
        {},
        {"version", "x"},
        {"version", "a", "b", "c", "d"},
        {"discoveryOpenBMC", "h", "u", "user", "pwd", "host", "extra"},
        {"a", "b", "c"},
    };
    for (const auto& args : shapes) {
        const auto r = kit::run_program(args);
        EXPECT_EQ(r.status, 1) << args.size() << " arguments";
        EXPECT_EQ(r.out, kCritical) << args.size() << " arguments";
        EXPECT_EQ(r.err, "") << args.size() << " arguments";
    }
}

TEST(CommandLine, VersionInBothShapesPrintsTheBanner) {
    kit::RunOptions options;
    options.argv0 = "/opt/probe/bmc-probe";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"version"}, {"version", "", "bmc.invalid", "u", "p", "zbx"}}) {
        const auto r = kit::run_program(args, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kRights + "/opt/probe/bmc-probe  1.0.1\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, StartNameFormsOfTheVersionLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"./bmc-probe", " bmc-probe  1.0.1\n"},
        {"/usr/local/bin/bmc-probe", "/usr/local/bin/bmc-probe  1.0.1\n"},
        {"tools/./bmc-probe", "tools/ bmc-probe  1.0.1\n"},
        {"../build/bmc-probe", ". build/bmc-probe  1.0.1\n"},
        {"a/./b/./bmc-probe", "a/ b/ bmc-probe  1.0.1\n"},
    };
    for (const auto& [start_name, name_line] : cases) {
        kit::RunOptions options;
        options.argv0 = start_name;
        const auto r = kit::run_program({"version"}, options);
        EXPECT_EQ(r.status, 0) << start_name;
        EXPECT_EQ(r.out, kRights + name_line) << start_name;
    }
}

TEST(CommandLine, OneArgumentOtherThanVersionFailsOnTheMissingZabbixHost) {
    for (const std::string mode : {"discoveryOpenBMC", "Version", "launch_x", ""}) {
        const auto r = kit::run_program({mode});
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(r.out, "") << mode;
        EXPECT_NE(r.err.find("zabbix_host"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(CommandLine, UnrecognisedModesDoNothingAndEndWithZero) {
    kit::RunOptions options;
    options.env = kQuietEnv;
    for (const std::string mode : {"discoveryopenbmc", "DISCOVERYOPENBMC", "discoveryOpenBMC ", " version", "nada",
                                   "", "xlaunch", "launch-x", "Launch_x"}) {
        const auto r = kit::run_program({mode, "", "bmc.invalid:1", "u", "secret", "zbx"}, options);
        EXPECT_EQ(r.status, 0) << "[" << mode << "]";
        EXPECT_EQ(r.out, "") << "[" << mode << "]";
        EXPECT_EQ(r.err, "") << "[" << mode << "]";
    }
}

TEST(CommandLine, LaunchAnywhereInTheWordCallsLaunchWhichReturns) {
    kit::RunOptions options;
    options.env = kQuietEnv;
    for (const std::string mode : {"launch_x", "my_launch_job", "xlaunch_"}) {
        const auto r = kit::run_program({mode, "h", "bmc.invalid:1", "u", "p", "zbx"}, options);
        EXPECT_EQ(r.status, 0) << mode;
        EXPECT_EQ(r.out, "") << mode;
        EXPECT_EQ(r.err, "") << mode;
    }
}

TEST(CommandLine, OddArgumentsDoNotCrash) {
    kit::RunOptions options;
    options.env = kQuietEnv;
    // Linux caps one argument at 128 KiB (MAX_ARG_STRLEN): the longest a
    // caller can pass.
    const std::string huge((128 << 10) - 1, 'x');
    const std::string non_ascii = "m\xc3\xa1quina-\xe2\x82\xac-\xff\xfe";
    const auto r = kit::run_program({huge, huge, huge, huge, huge, huge}, options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    const auto v = kit::run_program({"version", non_ascii, "", non_ascii, huge, non_ascii}, options);
    EXPECT_EQ(v.status, 0);
    const auto empty = kit::run_program({"", "", "", "", "", ""}, options);
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.err, "");
}

TEST(CommandLine, StdoutThatCannotBeWrittenEndsWithTwo) {
    kit::RunOptions options;
    options.stdout_path = "/dev/full";
    const auto version = kit::run_program({"version"}, options);
    EXPECT_EQ(version.status, 2);
    options.env = kQuietEnv;
    // Nothing printed: the normal end has nothing to write, so it stays 0.
    const auto quiet = kit::run_program({"nada", "h", "u", "u", "p", "zbx"}, options);
    EXPECT_EQ(quiet.status, 0);
}

}  // namespace
