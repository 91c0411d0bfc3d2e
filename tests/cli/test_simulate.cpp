// simulate as its own process, feeding a download through a symbolic link.
#include <gtest/gtest.h>

#include <string>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

TEST(Simulate, FeedsADownloadThroughItsLink) {
    TempDir dir;
    const std::string link = dir.file("meter");
    Program meter(command({"simulate", "--send-after", "0.2", "--records", "5", "--link", link}),
                  dir);
    ASSERT_TRUE(eventually([&] { return exists(link) && !meter.out().empty(); })) << meter.err();
    const std::string device = meter.out();
    EXPECT_EQ(device.rfind("/dev/", 0), 0u) << device;
    EXPECT_EQ(device.back(), '\n');

    Program download(command({"download", "--device", link, "--data-file", dir.file("d.dat")}),
                     dir);
    EXPECT_EQ(download.wait(), kExitOk) << download.err();
    EXPECT_EQ(countLines(readFile(dir.file("d.dat"))), 5);
    EXPECT_TRUE(contains(download.err(), "records written: 5,"));
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

}  // namespace
}  // namespace vantor::clitest
