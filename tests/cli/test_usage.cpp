// Command lines the program refuses, and the help it gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

struct UsageError {
    const char* name;
    std::vector<std::string> args;
};

class Usage : public ::testing::TestWithParam<UsageError> {};

TEST_P(Usage, IsRefusedWithExitTwo) {
    TempDir dir;
    const RunResult r = run(GetParam().args, dir);
    EXPECT_EQ(r.status, kExitUsage) << r.err;
    EXPECT_NE(r.err, "");
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, Usage,
    ::testing::Values(UsageError{"NoCommand", {}}, UsageError{"UnknownCommand", {"upload"}},
                      UsageError{"UnknownOption", {"download", "--speed", "9600"}},
                      UsageError{"PortNotANumber", {"download", "--port", "abc"}},
                      UsageError{"PortNotWhole", {"download", "--port", "1.5"}},
                      UsageError{"TimeoutNotANumber", {"download", "--timeout", "soon"}},
                      UsageError{"OptionWithoutValue", {"download", "--device"}},
                      UsageError{"ViewWithoutFile", {"view"}},
                      UsageError{"ViewTwoFiles", {"view", "a.dat", "b.dat"}},
                      UsageError{"ViewRecordsNotANumber", {"view", "a.dat", "--records", "x"}},
                      UsageError{"DecodeWithoutCapture", {"decode"}},
                      UsageError{"DownloadStrayArgument", {"download", "extra"}},
                      UsageError{"ExportDatabaseNotAUrl", {"export", "--database", "site.sqlite"}},
                      UsageError{"SimulateRecordsNotANumber", {"simulate", "--records", "x"}}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

class Help : public ::testing::TestWithParam<std::string> {};

TEST_P(Help, PrintsUsageNamingTheCommandAndExitsZero) {
    TempDir dir;
    const RunResult r = run({GetParam(), "--help"}, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
    EXPECT_TRUE(contains(r.out.substr(0, r.out.find('\n')), "vantor-comm " + GetParam() + " "));
    EXPECT_TRUE(contains(r.out, "--help"));
}

INSTANTIATE_TEST_SUITE_P(Commands, Help,
                         ::testing::Values("download", "view", "decode", "simulate", "demo"),
                         [](const auto& paramInfo) { return paramInfo.param; });

TEST(ProgramHelp, ListsTheCommands) {
    TempDir dir;
    const RunResult r = run({"--help"}, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    for (const char* c : {"download", "view", "decode", "simulate", "demo"}) {
        EXPECT_TRUE(contains(r.out, c));
    }
}

}  // namespace
}  // namespace vantor::clitest
