#include <gtest/gtest.h>

#include "kit/fake_control.h"
#include "kit/files.h"

namespace vantor {
namespace {

using testing::errorOf;
using testing::FakeControl;
using testing::ScratchDir;
using testing::writeFile;

struct View : FakeControl {
    View() { comm->df = dir.file("d.dat"); }
    std::vector<std::string> column(int col) {
        std::vector<std::string> out;
        for (Long r = 0; r < comm->Grid().Rows(); ++r)
            out.push_back(comm->Grid().TextMatrix(r, col));
        return out;
    }
    ScratchDir dir;
};

const std::string kFile =
    "0,\"120604154815\",\"Time\",0\r\n"
    "3,23.5,\"C         \",1\r\n"
    "5,-1.25,12,2\r\n"
    "9,\"120604\",\"time\",3\r\n"
    "7,\"12060415\",\"Time\",4\r\n";

TEST(DataView, LaysTheRecordsOut) {
    View v;
    writeFile(v.comm->df, kFile);
    v.comm->datano = 5;
    v.comm->ViewData();
    const DataGrid& g = v.comm->Grid();
    EXPECT_EQ(g.Cols(), 4);
    EXPECT_EQ(g.Rows(), 6);
    EXPECT_EQ(v.column(0), (std::vector<std::string>{"No.", "1", "2", "3", "4", "5"}));
    EXPECT_EQ(v.column(1), (std::vector<std::string>{"Channel", "0", "1", "2", "3", "4"}));
    EXPECT_EQ(v.column(2), (std::vector<std::string>{"Value", "120604 15:48:15", "23.5", "-1.25",
                                                     "120604", "120604 15::"}));
    EXPECT_EQ(v.column(3),
              (std::vector<std::string>{"Unit", "Time", "C         ", "12", "time", "Time"}));
    EXPECT_DOUBLE_EQ(g.ColWidth(1), g.Width() / 5);
    EXPECT_DOUBLE_EQ(g.ColWidth(2), g.Width() / 3);
    EXPECT_EQ(g.ColWidth(0), -1);  // left as the grid has it
    for (Long r = 1; r <= 5; ++r) EXPECT_EQ(g.RowHeight(r), 360);
    EXPECT_EQ(g.RowHeight(0), -1);
    for (Long c = 0; c < 4; ++c) EXPECT_EQ(g.ColAlignment(c), 4);
    EXPECT_EQ(g.TopRow(), 1);
}

TEST(DataView, ShowsOnlyDatanoRecords) {
    View v;
    writeFile(v.comm->df, kFile + "garbage without items\r\n");
    v.comm->datano = 2;
    v.comm->ViewData();
    EXPECT_EQ(v.comm->Grid().Rows(), 3);
    EXPECT_EQ(v.column(2).back(), "23.5");
}

TEST(DataView, FailuresLeaveTheGridAsItWas) {
    struct Case {
        const char* name;
        std::string contents;
        Long datano;
        int error;
    };
    const Case cases[] = {
        {"no records asked for", kFile, 0, 9},
        {"negative count", kFile, -3, 9},
        {"fewer records than datano", kFile, 6, 62},
        {"channel above 32767", "0,1,2,40000\r\n", 1, 6},
        {"channel below -32768", "0,1,2,-32769\r\n", 1, 6},
        {"channel not a number", "0,1,2,x\r\n", 1, 13},
        {"huge count on a short file", kFile, 2000000000, 62},
    };
    for (const auto& c : cases) {
        View v;
        writeFile(v.comm->df, kFile);
        v.comm->datano = 1;
        v.comm->ViewData();
        writeFile(v.comm->df, c.contents);
        v.comm->datano = c.datano;
        EXPECT_EQ(errorOf([&] { v.comm->ViewData(); }), c.error) << c.name;
        EXPECT_EQ(v.comm->Grid().Rows(), 2) << c.name;
        EXPECT_EQ(v.comm->Grid().TextMatrix(1, 2), "120604 15:48:15") << c.name;
    }
    View v;
    v.comm->datano = 1;
    EXPECT_EQ(errorOf([&] { v.comm->ViewData(); }), 53);
    v.comm->df = v.dir.file("none/d.dat");
    EXPECT_EQ(errorOf([&] { v.comm->ViewData(); }), 76);
}

// A device never ends and one endless item would be held whole: both are
// refused with the path, before memory grows.
TEST(DataView, EndlessOrHugeInputsAreRefusedWithTheirPath) {
    struct Case {
        const char* name;
        bool unitFile;
        std::string contents;  // empty: a link to a device that never ends
    };
    const Case cases[] = {
        {"data file with one endless item", false, std::string(200000, '7')},
        {"unit file over 1 MB", true, std::string(2 << 20, ' ') + "0,V\r\n"},
#ifndef _WIN32
        {"data file that is a device", false, ""},
        {"unit file that is a device", true, ""},
#endif
    };
    for (const auto& c : cases) {
        View v;
        const std::string path = c.unitFile ? v.dir.file("unit2.dat") : v.comm->df;
        if (c.contents.empty()) {
            std::filesystem::create_symlink("/dev/zero", path);
        } else {
            writeFile(path, c.contents);
        }
        v.comm->AppPath(v.dir.path());
        v.comm->datano = 1;
        try {
            c.unitFile ? v.comm->ReadUnitFile() : v.comm->ViewData();
            ADD_FAILURE() << c.name << ": no error";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), kErrPathFileAccess) << c.name;
            EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
        }
    }
}

}  // namespace
}  // namespace vantor
