// view: a finished data file as a table; where view, export and plot write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <optional>
#include <regex>
#include <string>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

const std::string kTsvHeader = "No.\tChannel\tValue\tUnit\n";

TEST(View, TsvGivesEveryCellAsItIsOfAllTheRecordsOrTheFirstOnes) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      ") + "4,0.5,7,3\r\n");
    const std::string first = kTsvHeader +
                              "1\t0\t120604 15:48:15\tTime\n"
                              "2\t2\t123.4\t12\n";
    const std::string all = first +
                            "3\t2\t-123.4\t12\n"
                            "4\t1\t123.45\tmg/L      \n"
                            "5\t3\t0.5\t7\n";
    for (const bool two : {false, true}) {
        std::vector<std::string> args{"view", dir.file("d.dat"), "--tsv"};
        if (two) args.insert(args.end(), {"--records", "2"});
        const RunResult r = run(args, dir);
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out, two ? first : all);
    }
}

TEST(View, WithoutTsvPrintsATableForPeople) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      "));
    const RunResult r = run({"view", dir.file("d.dat")}, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    // Every row in order, its cells in their columns; the spacing is for people.
    const std::regex table(
        "No\\. +Channel +Value +Unit\n[- ]+\n"
        " *1 +0 +120604 15:48:15 +Time\n"
        " *2 +2 +123\\.4 +12\n"
        " *3 +2 +-123\\.4 +12\n"
        " *4 +1 +123\\.45 +mg/L *\n");
    EXPECT_TRUE(std::regex_match(r.out, table)) << r.out;
}

struct BadFile {
    const char* name;
    std::optional<std::string> content;  // nothing: the file does not exist
    const char* error;                   // how standard error starts
    const char* says = "";               // what follows the file's name there
    const char* path = nullptr;          // instead of a file in the test's folder
};

class ViewBadFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(ViewBadFile, FailsNamingTheFile) {
    TempDir dir;
    const std::string file = GetParam().path ? GetParam().path : dir.file("d.dat");
    if (GetParam().content) writeFile(file, *GetParam().content);
    const RunResult r = run({"view", file, "--tsv"}, dir);
    EXPECT_EQ(r.status, kExitFailure) << r.err;
    EXPECT_EQ(r.err.rfind(GetParam().error, 0), 0u) << r.err;
    EXPECT_TRUE(contains(r.err, file + GetParam().says));
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Files, ViewBadFile,
                         ::testing::Values(BadFile{"Missing", std::nullopt, "error 53: "},
                                           BadFile{"Empty", std::string(),
                                                   "error 9: ", " has no records"},
                                           BadFile{"Endless", std::nullopt, "cannot view ",
                                                   ": it is not a regular file", "/dev/zero"}),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST(StandardOutput, ThatCannotBeWrittenFailsEveryCommandThatWritesThere) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      "));
    const std::string d = dir.file("d.dat");
    const std::vector<std::vector<std::string>> commands = {
        {"view", d},
        {"view", d, "--tsv"},
        {"view", d, "--format", "jsonl"},
        {"export", d},
        {"list", "--json"},
        {"view", "--help"},
        {"export", d, "-o", "/proc/self/fd/1"},  // standard output by another name
    };
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back());
        std::vector<std::string> full = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full"};
        for (const std::string& a : command(args)) full.push_back(a);
        Program p(full, dir);
        EXPECT_EQ(p.wait(), kExitFailure) << p.err();
        EXPECT_TRUE(contains(p.err(), "error 61: Disk full"));
    }
}

TEST(Output, AFifoGetsTheExportAndStaysAFifo) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      "));
    const std::string fifo = dir.file("f");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader is there first; the few rows fit in the pipe until the program ends.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const RunResult r = run({"export", dir.file("d.dat"), "-o", fifo}, dir);
    std::string got(1 << 16, '\0');
    const ssize_t n = ::read(reader, got.data(), got.size());
    ::close(reader);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(got.rfind("record,time,stamp,channel,value,unit,status\r\n", 0), 0u) << got;
    EXPECT_EQ(countLines(got), 4);
    struct stat st {};
    EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_FALSE(exists(fifo + ".1"));
}

TEST(Output, TheDataFileItselfUnderAnyNameIsRefused) {
    TempDir dir;
    const std::string data = knownDataFile("mg/L      ");
    const std::string d = dir.file("d.dat");
    writeFile(d, data);
    ASSERT_EQ(::symlink(d.c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(::link(d.c_str(), dir.file("hard").c_str()), 0);
    ASSERT_EQ(::symlink(d.c_str(), dir.file("link.png").c_str()), 0);
    std::vector<std::vector<std::string>> commands = {
        {"export", d, "-o", d},
        {"export", d, "-o", dir.file("link")},
        {"view", d, "--format", "csv", "-o", dir.file("hard")},
    };
#ifdef VANTOR_TEST_PLOT
    commands.push_back({"plot", d, "-o", dir.file("link.png")});
#endif
    for (const auto& args : commands) {
        SCOPED_TRACE(args.back());
        const RunResult r = run(args, dir);
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_TRUE(contains(r.err, args.back() + ": that is the data file " + d + " itself"));
        EXPECT_EQ(readFile(d), data);
        EXPECT_FALSE(exists(d + ".1"));
    }
}

#ifdef VANTOR_TEST_PLOT
TEST(Plot, DrawsThePictureItWasAskedFor) {
    TempDir dir;
    writeFile(
        dir.file("d.dat"),
        "0,\"120604154815\",\"Time\",0\r\n1,21.5,\"degC      \",1\r\n2,1.2,\"V         \",2\r\n"
        "3,\"120604154915\",\"Time\",0\r\n4,22.5,\"degC      \",1\r\n5,3.3,\"V         \",2\r\n"
        "6,\"120604155015\",\"Time\",0\r\n7,22.1,\"degC      \",1\r\n8,999999,\"V         "
        "\",2\r\n");
    const RunResult r =
        run({"plot", dir.file("d.dat"), "-o", dir.file("c.png"), "--size", "640x480"}, dir);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const QImage image(QString::fromStdString(dir.file("c.png")));
    ASSERT_EQ(image.size(), QSize(640, 480));
    // Lines, axes and labels: a good share of the picture is not background.
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) drawn += image.pixel(x, y) != qRgb(255, 255, 255);
    }
    EXPECT_GT(drawn, image.width() * image.height() / 50) << r.err;
}
#endif

}  // namespace
}  // namespace vantor::clitest
