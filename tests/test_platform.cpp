#include <gtest/gtest.h>
#include <vantor/data_grid.h>
#include <vantor/forms.h>

#include <clocale>

#include "files/file_table.h"
#include "files/number_format.h"
#include "kit/fake_control.h"
#include "kit/files.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using testing::ScratchDir;

TEST(Forms, ModelsNotifyTheirViewsOfChangesOnly) {
    Label label;
    int calls = 0;
    int id = label.subscribe([&] { ++calls; });
    label.setCaption("x");
    label.setCaption("x");
    label.setVisible(false);
    EXPECT_EQ(calls, 2);
    label.unsubscribe(id);
    label.setCaption("y");
    EXPECT_EQ(calls, 2);
}

TEST(FakeMessageLoop, TimersAndPostedEventsFireInTimeOrder) {
    FakeMessageLoop loop;
    std::string order;
    Timer timer(loop);
    timer.onTimer = [&] { order += 'T'; };
    timer.setEnabled(false);
    timer.setInterval(500);
    loop.post(700ms, [&] { order += 'P'; });
    loop.advance(1000ms);
    EXPECT_EQ(order, "P");  // a disabled timer does not tick
    timer.setEnabled(true);
    loop.post(600ms, [&] { order += 'P'; });
    loop.advance(1500ms);
    EXPECT_EQ(order, "PTPTT");
    timer.setEnabled(false);
    EXPECT_EQ(loop.activeTimers(), 0u);
}

TEST(FakeMessageLoop, WaitJumpsToTheNextEventOrTheLimit) {
    FakeMessageLoop loop;
    auto start = loop.now();
    bool ran = false;
    loop.post(300ms, [&] { ran = true; });
    loop.waitForEvents(1000ms);
    EXPECT_TRUE(ran);
    EXPECT_EQ(loop.now() - start, 300ms);
    loop.waitForEvents(1000ms);
    EXPECT_EQ(loop.now() - start, 1300ms);
}

TEST(DataGrid, KeepsCellsWhenResizedAndRejectsCellsOutside) {
    DataGrid grid;
    grid.setCols(4);
    grid.setRows(3);
    grid.setTextMatrix(2, 3, "x");
    grid.setCols(5);
    EXPECT_EQ(grid.TextMatrix(2, 3), "x");
    EXPECT_EQ(grid.TextMatrix(0, 4), "");
    EXPECT_THROW(grid.setTextMatrix(3, 0, "y"), RuntimeError);
    grid.setRows(2);
    EXPECT_THROW((void)grid.TextMatrix(2, 3), RuntimeError);
}

using testing::errorOf;

TEST(FileTable, MapsOpenFailuresToRunTimeErrors) {
    ScratchDir dir;
    FileTable files;
    EXPECT_EQ(errorOf([&] { files.openInput(1, dir.file("missing.dat")); }), 53);
    EXPECT_EQ(errorOf([&] { files.openInput(1, dir.file("no/such.dat")); }), 76);
    EXPECT_EQ(errorOf([&] { files.openOutput(1, dir.file("no/such.dat")); }), 76);
    EXPECT_EQ(errorOf([&] { files.openOutput(1, ""); }), 52);
    EXPECT_EQ(errorOf([&] { files.openOutput(0, dir.file("a")); }), 52);
    EXPECT_EQ(errorOf([&] { files.openOutput(1, dir.path()); }), 75);
    files.openOutput(2, dir.file("a"));
    EXPECT_EQ(errorOf([&] { files.openOutput(2, dir.file("b")); }), 55);
    FileTable other;  // another download's
    EXPECT_EQ(errorOf([&] { other.openOutput(2, dir.file("a")); }), 70);
    EXPECT_EQ(files.FreeFile(), 1);
}

struct ItemCase {
    const char* text;
    std::vector<std::string> items;
};

TEST(ItemReader, FollowsTheItemRules) {
    const ItemCase cases[] = {
        {"0,mg/L\r\n1,kPa\r\n", {"0", "mg/L", "1", "kPa"}},
        {"0,mg/L\n1,kPa", {"0", "mg/L", "1", "kPa"}},
        {"0,mg/L\r1,kPa\r", {"0", "mg/L", "1", "kPa"}},
        {"  5 ,\"a,b\"\r\n", {"5 ", "a,b"}},
        {"1,\"C         \",2\r\n", {"1", "C         ", "2"}},
        {"\"x\"junk,y\r\n", {"x", "y"}},
        {"a,,b\r\n", {"a", "", "b"}},
        {"0,\"open\r\n1,x\r\n", {"0", "open", "1", "x"}},  // an open quote ends at the line end
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        testing::writeFile(dir.file("u"), c.text);
        FileTable files;
        ItemReader& in = files.openInput(files.FreeFile(), dir.file("u"));
        std::vector<std::string> got;
        while (!in.atEnd()) got.push_back(in.readText());
        EXPECT_EQ(got, c.items) << c.text;
        EXPECT_EQ(errorOf([&] { in.readText(); }), 62) << c.text;
    }
}

TEST(ItemReader, NumbersAsSixteenBitIntegers) {
    EXPECT_EQ(parseIntegerItem("12"), 12);
    EXPECT_EQ(parseIntegerItem(" -3 "), -3);
    EXPECT_EQ(parseIntegerItem(""), 0);
    EXPECT_EQ(parseIntegerItem("2.5"), 2);
    EXPECT_EQ(parseIntegerItem("32767"), 32767);
    EXPECT_EQ(errorOf([] { parseIntegerItem("32768"); }), 6);
    EXPECT_EQ(errorOf([] { parseIntegerItem("-32769"); }), 6);
    EXPECT_EQ(errorOf([] { parseIntegerItem("abc"); }), 13);
    EXPECT_EQ(errorOf([] { parseIntegerItem("1x"); }), 13);
}

TEST(NumberFormat, FifteenDigitsPlainOrExponent) {
    const std::pair<double, const char*> cases[] = {
        {123.45, "123.45"},
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {1234500, "1234500"},
        {0.000000001, "0.000000001"},
        {1.234e19, "1.234E+19"},
        {1.5e-14, "1.5E-14"},
        {-0.0, "0"},
        {0, "0"},
        {999999, "999999"},
        {-123.4, "-123.4"},
        {1e-10, "0.0000000001"},
        {1e-11, "1E-11"},
        {123456789012345, "123456789012345"},
        {999999999999999.9, "1E+15"},
        {1e15, "1E+15"},
        {0.1 + 0.2, "0.3"},
        {1234.5678e-16, "1.2345678E-13"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(formatNumber(value), text) << value;
}

TEST(NumberFormat, IgnoresTheLocale) {
    const char* locales[] = {"de_DE.UTF-8", "de_DE", "fr_FR.UTF-8", "C.UTF-8"};
    for (const char* name : locales) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            EXPECT_EQ(formatNumber(123.45), "123.45") << name;
            EXPECT_EQ(formatNumber(1.5e-14), "1.5E-14") << name;
        }
    }
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace vantor
