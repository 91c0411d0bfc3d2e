// view: a finished data file as a table.
#include <gtest/gtest.h>

#include <QImage>
#include <optional>
#include <string>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

const std::string kTsvHeader = "No.\tChannel\tValue\tUnit\n";

TEST(View, TsvGivesEveryCellAsItIs) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      "));
    const RunResult r = run({"view", dir.file("d.dat"), "--tsv"}, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out, kTsvHeader +
                         "1\t0\t120604 15:48:15\tTime\n"
                         "2\t2\t123.4\t12\n"
                         "3\t2\t-123.4\t12\n"
                         "4\t1\t123.45\tmg/L      \n");
}

TEST(View, RecordsShowsOnlyTheFirstOnes) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      ") + "4,0.5,7,3\r\n");
    const RunResult r = run({"view", dir.file("d.dat"), "--records", "2", "--tsv"}, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out, kTsvHeader +
                         "1\t0\t120604 15:48:15\tTime\n"
                         "2\t2\t123.4\t12\n");
}

TEST(View, WithoutTsvPrintsATableForPeople) {
    TempDir dir;
    writeFile(dir.file("d.dat"), knownDataFile("mg/L      "));
    const RunResult r = run({"view", dir.file("d.dat")}, dir);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_TRUE(contains(r.out, "120604 15:48:15"));
    EXPECT_TRUE(contains(r.out, "-123.4"));
    EXPECT_TRUE(contains(r.out, "mg/L"));
    EXPECT_FALSE(contains(r.out, "\t"));
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
