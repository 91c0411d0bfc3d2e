#include <gtest/gtest.h>

#include "kit/fake_control.h"
#include "kit/files.h"
#include "kit/frames.h"

namespace vantor {
namespace {

using testing::FakeControl;
using testing::ScratchDir;
using testing::writeFile;

struct UnitFixture : FakeControl {
    UnitFixture() {
        comm->AppPath(dir.path());
        comm->Port(1);
    }
    int load(const std::string& contents) {
        writeFile(dir.file("unit2.dat"), contents);
        return testing::errorOf([&] { comm->ReadUnitFile(); });
    }
    // The unit name an extended reading with this code writes.
    std::string unitWritten(int code) {
        comm->df = dir.file("probe.dat");
        comm->Start();
        char tens = static_cast<char>(code / 10 < 10 ? '0' + code / 10 : 'A' + code / 10 - 10);
        std::string body = "41";
        body += tens;
        body += static_cast<char>('0' + code % 10);
        body += "0000000000";
        serial->arrive(testing::frame(body) + testing::endMarker());
        std::string line = testing::readFile(comm->df);
        auto q = line.find('"');
        return line.substr(q + 1, 10);
    }
    ScratchDir dir;
};

TEST(UnitFile, NamesTheDaysDataFileEvenWhenTheUnitFileIsMissing) {
    UnitFixture f;
    EXPECT_EQ(f.load(""), 0);  // an empty unit file changes no entry
    EXPECT_EQ(f.comm->df, f.dir.file("20090730.dat"));

    std::filesystem::remove(f.dir.file("unit2.dat"));
    f.dates.date = {2010, 1, 2};
    EXPECT_EQ(testing::errorOf([&] { f.comm->ReadUnitFile(); }), 53);
    EXPECT_EQ(f.comm->df, f.dir.file("20100102.dat"));

    f.comm->AppPath(f.dir.file("missing-folder"));
    EXPECT_EQ(testing::errorOf([&] { f.comm->ReadUnitFile(); }), 76);
    EXPECT_EQ(f.comm->df, inFolder(f.dir.file("missing-folder"), "20100102.dat"));
}

TEST(UnitFile, EmptyAppPathLooksAtTheRoot) {
    FakeControl f;
    f.comm->AppPath("");
    try {
        f.comm->ReadUnitFile();
    } catch (const RuntimeError&) {
    }
    EXPECT_EQ(f.comm->df, inFolder("", "20090730.dat"));
}

TEST(UnitFile, NamesArePaddedOrCutToTenAndTheFirstItemChoosesNothing) {
    UnitFixture f;
    EXPECT_EQ(f.load("5,mg/L\r\n1,\"a, b\"\r\n2,ABCDEFGHIJKL\r\n"), 0);
    EXPECT_EQ(f.unitWritten(0), "mg/L      ");
    EXPECT_EQ(f.unitWritten(1), "a, b      ");
    EXPECT_EQ(f.unitWritten(2), "ABCDEFGHIJ");
    EXPECT_EQ(f.unitWritten(3), std::string(10, '\0'));
}

TEST(UnitFile, ShorterLoadKeepsTheTailOfAnEarlierOne) {
    UnitFixture f;
    f.load("0,a\n1,b\n2,c\n");
    f.load("0,x\n");
    EXPECT_EQ(f.unitWritten(0), "x         ");
    EXPECT_EQ(f.unitWritten(2), "c         ");
}

std::string lines(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::to_string(i) + ",u" + std::to_string(i) + "\r\n";
    return s;
}

TEST(UnitFile, LimitsAndMalformedFiles) {
    struct Case {
        std::string name, contents;
        int error;
    };
    const Case cases[] = {
        {"301 lines", lines(301), 0},
        {"302 lines", lines(302), 9},
        {"odd item count", "0,a\r\n1\r\n", 62},
        {"no final line end", "0,a\r\n1,b", 0},
        {"trailing blank lines", "0,a\r\n\r\n\r\n", 0},
        {"binary bytes", std::string("0,\x01\xff\x00z\r\n", 7), 0},
        {"one item per line pairs across lines", "a\nb\nc\nd\n", 0},
    };
    for (const auto& c : cases) {
        UnitFixture f;
        EXPECT_EQ(f.load(c.contents), c.error) << c.name;
    }
    UnitFixture f;
    f.load(lines(302));
    EXPECT_EQ(f.unitWritten(159), "u159      ");  // entries up to 300 stored before the error
}

TEST(UnitFile, TheUnitFileIsClosedOnEveryPath) {
    UnitFixture f;
    for (int i = 0; i < 300; ++i) {
        f.load(i % 2 ? lines(302) : "0,a\r\n1\r\n");
    }
    // Each load took a free number and gave it back: file number 1 is free.
    f.comm->df = f.dir.file("d.dat");
    f.comm->datano = 1;
    writeFile(f.comm->df, "0,1,2,3\r\n");
    EXPECT_NO_THROW(f.comm->ViewData());
}

}  // namespace
}  // namespace vantor
