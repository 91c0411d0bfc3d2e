// download from a meter on a pseudo-terminal, in both transfer modes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

// The name of today's data file, yyyymmdd.dat, in local time.
std::string dayFileName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof name, "%Y%m%d.dat", &local);
    return name;
}

class Download : public ::testing::TestWithParam<Mode> {
  protected:
    std::vector<std::string> downloadArgs(const std::vector<std::string>& extra = {}) const {
        return downloadCommand(meter.device(), dataFile, GetParam(), extra);
    }

    std::vector<std::string> withMode(std::vector<std::string> args) const {
        if (GetParam() == Mode::Blocking) args.push_back("--blocking");
        return args;
    }

    TempDir dir;
    sim::PtyMeter meter;
    const std::string dataFile = dir.file("d.dat");
};

INSTANTIATE_TEST_SUITE_P(Modes, Download, ::testing::Values(Mode::Events, Mode::Blocking),
                         modeName);

TEST_P(Download, WritesEveryRecordExactlyAndSummarises) {
    Program p(downloadArgs(), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames() + sim::endMarker()));
    EXPECT_EQ(p.wait(), kExitOk) << p.err();
    EXPECT_EQ(readFile(dataFile), knownDataFile());
    const std::string err = p.err();
    EXPECT_TRUE(contains(err, "records written: 4,"));
    EXPECT_TRUE(contains(err, "frames rejected: 0,"));
    EXPECT_TRUE(contains(err, "bytes skipped: 0,"));
    EXPECT_TRUE(contains(err, "ended: end marker"));
    EXPECT_EQ(p.out(), "");
}

TEST_P(Download, DevicePatternArmsEveryMatchAndTheOneThatSendsOwnsTheTransfer) {
    sim::PtyMeter quiet;
    ASSERT_EQ(::symlink(quiet.device().c_str(), dir.file("meter-a").c_str()), 0);
    ASSERT_EQ(::symlink(meter.device().c_str(), dir.file("meter-b").c_str()), 0);
    Program p(withMode(command({"download", "--device", dir.file("meter-*"), "--data-file",
                                dataFile, "--timeout", "15"})),
              dir);
    ASSERT_TRUE(eventually([&] { return quiet.peerOpen() && meter.peerOpen(); })) << p.err();
    meter.send(knownFrames() + sim::endMarker(), false);
    EXPECT_EQ(p.wait(), kExitOk) << p.err();
    EXPECT_EQ(readFile(dataFile), knownDataFile());
    EXPECT_TRUE(contains(p.err(), "the meter is on " + dir.file("meter-b")));
    EXPECT_TRUE(quiet.waitForPeerClose(std::chrono::seconds(5)));  // released at once
}

TEST_P(Download, ViewPrintsTheTableAfterTheTransfer) {
    writeFile(dir.file("unit2.dat"), kUnitFile);
    Program p(downloadArgs({"--app-path", dir.path(), "--view"}), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames() + sim::endMarker()));
    ASSERT_EQ(p.wait(), kExitOk) << p.err();
    EXPECT_EQ(readFile(dataFile), knownDataFile("mg/L      "));
    // As view prints the data file (View.WithoutTsvPrintsATableForPeople).
    EXPECT_EQ(p.out(), run({"view", dataFile}, dir).out);
}

TEST_P(Download, TheDayFileIsInTheAppPathOrElseTheWorkingFolder) {
    const std::string app = dir.file("app");
    ASSERT_EQ(::mkdir(app.c_str(), 0755), 0);
    writeFile(app + "/unit2.dat", kUnitFile);
    for (const bool appPath : {true, false}) {
        sim::PtyMeter line;
        std::vector<std::string> args{"download", "--device", line.device()};
        if (appPath) args.insert(args.end(), {"--app-path", app});
        const std::string before = dayFileName();
        Program p(command(withMode(args)), dir);
        ASSERT_TRUE(pressSend(line, p, knownFrames() + sim::endMarker()));
        EXPECT_EQ(p.wait(), kExitOk) << p.err();
        // The day may turn while the program runs.
        const std::string folder = appPath ? app : dir.path();
        std::string day = folder + "/" + before;
        if (!exists(day)) day = folder + "/" + dayFileName();
        EXPECT_EQ(readFile(day), appPath ? knownDataFile("mg/L      ") : knownDataFile()) << day;
    }
}

TEST_P(Download, RawCaptureIsAppendedToTheFile) {
    const std::string raw = dir.file("capture.raw");
    writeFile(raw, "earlier;");
    Program p(downloadArgs({"--raw", raw}), dir);
    const std::string stream = knownFrames() + sim::endMarker();
    ASSERT_TRUE(pressSend(meter, p, stream));
    EXPECT_EQ(p.wait(), kExitOk) << p.err();
    // The transfer ends at the last ESC, so the final CR may stay unread.
    const std::string captured = readFile(raw);
    EXPECT_EQ(captured.rfind("earlier;", 0), 0u);
    const std::string added = captured.substr(std::min<std::size_t>(8, captured.size()));
    EXPECT_GE(added.size() + 1, stream.size());
    EXPECT_EQ(added, stream.substr(0, added.size()));
}

TEST_P(Download, TimeoutEndsTheTransferAndKeepsTheRecords) {
    Program p(downloadArgs({"--timeout", "1"}), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames()));
    EXPECT_EQ(p.wait(), kExitTimeout) << p.err();
    EXPECT_EQ(readFile(dataFile), knownDataFile());
    EXPECT_TRUE(contains(p.err(), "records written: 4,"));
    EXPECT_TRUE(contains(p.err(), "ended: timeout"));
}

TEST_P(Download, DeviceLostMidTransferKeepsTheRecords) {
    Program p(downloadArgs(), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames()));
    ASSERT_TRUE(eventually([&] { return readFile(dataFile) == knownDataFile(); }))
        << "data file so far:\n"
        << readFile(dataFile);
    meter.hangUp();
    EXPECT_EQ(p.wait(), kExitDeviceLost) << p.err();
    EXPECT_EQ(readFile(dataFile), knownDataFile());
    EXPECT_TRUE(contains(p.err(), "records written: 4,"));
    EXPECT_TRUE(contains(p.err(), "ended: device lost"));
    EXPECT_TRUE(contains(p.err(), "Device lost: " + meter.device())) << p.err();
}

TEST_P(Download, ASecondDownloadKeepsTheFirst) {
    writeFile(dataFile, "0,1,2,3\r\n");
    Program p(downloadArgs(), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames() + sim::endMarker()));
    EXPECT_EQ(p.wait(), kExitOk) << p.err();
    EXPECT_EQ(readFile(dataFile), knownDataFile());
    EXPECT_EQ(readFile(dataFile + ".1"), "0,1,2,3\r\n");
    EXPECT_TRUE(contains(p.err(), "earlier download kept as: " + dataFile + ".1"));
}

TEST_P(Download, AMissingOrBrokenUnitFileFailsBeforeArming) {
    std::string lines302;
    for (int i = 0; i < 302; ++i) lines302 += std::to_string(i) + ",u\r\n";
    for (const bool missing : {true, false}) {
        const std::string appDir = dir.file(missing ? "none" : "broken");
        ASSERT_EQ(::mkdir(appDir.c_str(), 0755), 0);
        if (!missing) writeFile(appDir + "/unit2.dat", lines302);
        Program p(command(withMode({"download", "--device", meter.device(), "--app-path", appDir})),
                  dir);
        EXPECT_EQ(p.wait(), kExitFailure) << p.err();
        const std::string err = p.err();
        EXPECT_EQ(err.rfind(missing ? "error 53"
                                    : "error 9: Subscript out of range in the unit file " + appDir +
                                          "/unit2.dat\n",
                            0),
                  0u)
            << err;
        EXPECT_FALSE(contains(err, "Press Send Key"));
        EXPECT_FALSE(contains(err, "records written"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(appDir),
                                std::filesystem::directory_iterator()),
                  missing ? 0 : 1)
            << "the day's data file was made";
    }
}

}  // namespace
}  // namespace vantor::clitest
