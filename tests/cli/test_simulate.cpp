// simulate as its own process, feeding a download through a symbolic link; and the demo,
// which runs a simulated meter of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

TEST(Simulate, FeedsADownloadThroughItsLink) {
    TempDir dir;
    const std::string link = dir.file("meter");
    const std::string units = dir.file("units");
    Program meter(command({"simulate", "--send-after", "0.2", "--records", "5", "--link", link,
                           "--unit-file", units}),
                  dir);
    ASSERT_TRUE(eventually([&] { return exists(link) && !meter.out().empty(); })) << meter.err();
    const std::string device = meter.out();
    EXPECT_EQ(device.rfind("/dev/", 0), 0u) << device;
    EXPECT_EQ(device.back(), '\n');

    Program download(command({"download", "--device", link, "--data-file", dir.file("d.dat"),
                              "--app-path", units}),
                     dir);
    EXPECT_EQ(download.wait(), kExitOk) << download.err();
    EXPECT_EQ(countLines(readFile(dir.file("d.dat"))), 5);
    EXPECT_TRUE(contains(download.err(), "records written: 5,"));
    EXPECT_FALSE(contains(download.err(), "does not name")) << "its unit file names them";
    // A unit file of the user's is never replaced.
    writeFile(dir.file("unit2.dat"), "0,V\r\n");
    EXPECT_EQ(run({"simulate", "--unit-file", dir.path()}, dir).status, kExitFailure);
    EXPECT_EQ(readFile(dir.file("unit2.dat")), "0,V\r\n");
    // Whether the meter has noticed the downloader leave is not this test's business; the
    // meter is killed on the way out.
}

TEST(Simulate, EndsOnceADownloadAfterTheSendHasLetGo) {
    TempDir dir;
    const std::string link = dir.file("meter");
    Program meter(command({"simulate", "--send-after", "0", "--records", "5", "--link", link}),
                  dir);
    ASSERT_TRUE(eventually([&] { return exists(link) && contains(meter.err(), "sending"); }))
        << meter.err();

    Program download(command({"download", "--device", link, "--data-file", dir.file("d.dat")}),
                     dir);
    EXPECT_EQ(download.wait(), kExitOk) << download.err();
    EXPECT_EQ(countLines(readFile(dir.file("d.dat"))), 5);
    EXPECT_EQ(meter.wait(), kExitOk) << meter.err();
    EXPECT_FALSE(contains(meter.err(), "nobody read"));
    EXPECT_FALSE(exists(link));
}

TEST(Demo, DownloadsFromItsMeterAndLeavesNoFolderBehind) {
    TempDir dir;
    ::setenv("TMPDIR", dir.path().c_str(), 1);  // the demo makes its folder there
    const RunResult r = run({"demo"}, dir);
    ::unsetenv("TMPDIR");
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_TRUE(contains(r.err, "records written: 40,"));
    EXPECT_TRUE(contains(r.out, "No.  Channel"));
    EXPECT_TRUE(contains(r.err, "removed the demo's folder " + dir.path() + "/vantor-demo-"));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().rfind("run", 0), 0u) << entry.path();
    }
}

}  // namespace
}  // namespace vantor::clitest
