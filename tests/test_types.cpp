#include <gtest/gtest.h>
#include <vantor/errors.h>
#include <vantor/types.h>

namespace vantor {
namespace {

TEST(Text10, StartsAsTenNulsAndPadsOrCutsOnStore) {
    Text10 t;
    EXPECT_EQ(t.str(), std::string(10, '\0'));
    t = "mg/L";
    EXPECT_EQ(t.str(), "mg/L      ");
    t = "123456789012";
    EXPECT_EQ(t.str(), "1234567890");
    t = std::string("a\0b", 3);
    EXPECT_EQ(t.str(), std::string("a\0b       ", 10));
    t = "";
    EXPECT_EQ(t.str(), std::string(10, ' '));
}

TEST(Boolean, TrueIsAllBitsSet) {
    EXPECT_EQ(VbTrue, -1);
    EXPECT_EQ(static_cast<std::uint16_t>(VbTrue), 0xFFFF);
    EXPECT_EQ(sizeof(Boolean), 2u);
}

TEST(VbArray, BoundsAndUnallocated) {
    VbArray<Integer> none;
    EXPECT_FALSE(none.allocated());
    EXPECT_FALSE(none.contains(0));
    EXPECT_THROW(none.lbound(), RuntimeError);

    VbArray<Integer> a(1, 6);
    EXPECT_EQ(a.lbound(), 1);
    EXPECT_EQ(a.ubound(), 6);
    EXPECT_FALSE(a.contains(0));
    a(6) = 9;
    EXPECT_EQ(a(6), 9);
    try {
        a(7) = 1;
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 9);
    }
}

TEST(RuntimeError, CarriesNumberAndStandardDescription) {
    struct Case {
        int number;
        const char* text;
    } cases[] = {{6, "Overflow"},           {9, "Subscript out of range"},
                 {13, "Type mismatch"},     {52, "Bad file name or number"},
                 {53, "File not found"},    {55, "File already open"},
                 {61, "Disk full"},         {62, "Input past end of file"},
                 {70, "Permission denied"}, {75, "Path/File access error"},
                 {76, "Path not found"}};
    for (const auto& c : cases) {
        RuntimeError e(c.number);
        EXPECT_EQ(e.number(), c.number);
        EXPECT_EQ(e.description(), c.text);
    }
    RuntimeError custom(8002, "Invalid port number: no serial device /dev/ttyS9");
    EXPECT_EQ(custom.description(), "Invalid port number: no serial device /dev/ttyS9");
}

}  // namespace
}  // namespace vantor
