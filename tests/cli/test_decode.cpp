// decode: a raw capture replayed into the data file its download wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

class Decode : public ::testing::TestWithParam<Mode> {
  protected:
    std::vector<std::string> decodeArgs(const std::string& raw, const std::string& dataFile) const {
        std::vector<std::string> args{"decode", raw, "--data-file", dataFile};
        if (GetParam() == Mode::Blocking) args.push_back("--blocking");
        return args;
    }

    TempDir dir;
};

INSTANTIATE_TEST_SUITE_P(Modes, Decode, ::testing::Values(Mode::Events, Mode::Blocking), modeName);

TEST_P(Decode, CaptureGivesTheDataFileOfItsDownload) {
    // Records of every kind, so the replay has more than the known frames to get right.
    const std::string stream = knownFrames() + sim::transferStream(sim::standardMemory(30));
    {
        sim::PtyMeter meter;
        Program download(downloadCommand(meter.device(), dir.file("d.dat"), GetParam(),
                                         {"--raw", dir.file("capture.raw")}),
                         dir);
        ASSERT_TRUE(pressSend(meter, download, stream));
        ASSERT_EQ(download.wait(), kExitOk) << download.err();
    }
    const std::string downloaded = readFile(dir.file("d.dat"));
    EXPECT_EQ(countLines(downloaded), 34);

    const RunResult r = run(decodeArgs(dir.file("capture.raw"), dir.file("decoded.dat")), dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(readFile(dir.file("decoded.dat")), downloaded);
}

TEST_P(Decode, UnitFileNamesTheUnitsAndTheEarlierDataFileIsKept) {
    writeFile(dir.file("unit2.dat"), kUnitFile);
    writeFile(dir.file("capture.raw"), knownFrames() + sim::endMarker());
    writeFile(dir.file("d.dat"), "x\r\n");
    std::vector<std::string> args = decodeArgs(dir.file("capture.raw"), dir.file("d.dat"));
    args.insert(args.end(), {"--app-path", dir.path()});
    const RunResult r = run(args, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(readFile(dir.file("d.dat")), knownDataFile("mg/L      "));
    EXPECT_EQ(readFile(dir.file("d.dat.1")), "x\r\n");
}

struct Cut {
    const char* name;
    std::string tail;  // what follows the known frames in the capture
};

class DecodeCut : public ::testing::TestWithParam<std::tuple<Mode, Cut>> {};

TEST_P(DecodeCut, CaptureEndingBeforeTheEndMarkerKeepsTheRecords) {
    const auto& [mode, cut] = GetParam();
    TempDir dir;
    writeFile(dir.file("capture.raw"), knownFrames() + cut.tail);
    std::vector<std::string> args{"decode", dir.file("capture.raw"), "--data-file",
                                  dir.file("d.dat")};
    if (mode == Mode::Blocking) args.push_back("--blocking");
    const RunResult r = run(args, dir);
    EXPECT_EQ(r.status, kExitTimeout) << r.err;
    EXPECT_EQ(readFile(dir.file("d.dat")), knownDataFile());
}

INSTANTIATE_TEST_SUITE_P(Cuts, DecodeCut,
                         ::testing::Combine(::testing::Values(Mode::Events, Mode::Blocking),
                                            ::testing::Values(Cut{"AfterAFrame", ""},
                                                              Cut{"InsideAFrame",
                                                                  "\x02"
                                                                  "0212010"},
                                                              Cut{"InsideTheEndMarker",
                                                                  sim::endMarker().substr(0, 20)})),
                         [](const auto& paramInfo) {
                             return modeName({std::get<0>(paramInfo.param), paramInfo.index}) +
                                    std::get<1>(paramInfo.param).name;
                         });

TEST(DecodeFailure, DataFileThatIsTheCaptureItselfIsAUsageError) {
    TempDir dir;
    const std::string capture = dir.file("capture.raw");
    const std::string bytes = knownFrames() + sim::endMarker();
    writeFile(capture, bytes);
    ASSERT_EQ(::link(capture.c_str(), dir.file("hard.raw").c_str()), 0);
    ASSERT_EQ(::symlink("capture.raw", dir.file("soft.raw").c_str()), 0);
    for (const std::string& dataFile :
         {capture, dir.file("hard.raw"), dir.file("soft.raw"), dir.path() + "/./capture.raw"}) {
        const RunResult r = run({"decode", capture, "--data-file", dataFile}, dir);
        EXPECT_EQ(r.status, kExitUsage) << dataFile << "\n" << r.err;
        EXPECT_EQ(readFile(capture), bytes) << dataFile;
    }
}

TEST(DecodeFailure, MissingCaptureIsAnError) {
    TempDir dir;
    const RunResult r =
        run({"decode", dir.file("none.raw"), "--data-file", dir.file("d.dat")}, dir);
    EXPECT_EQ(r.status, kExitFailure) << r.err;
    EXPECT_EQ(r.err.rfind("error 53", 0), 0u) << r.err;
}

}  // namespace
}  // namespace vantor::clitest
