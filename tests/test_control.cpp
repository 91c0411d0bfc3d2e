#include <gtest/gtest.h>

#include "kit/fake_control.h"

namespace vantor {
namespace {

using testing::FakeControl;

TEST(Control, FreshControlAnswersFromItsInitialRecord) {
    FakeControl f;
    Vantor_Comm& c = *f.comm;
    Long frames = 77;
    EXPECT_EQ(c.Read_Status(frames), 0);
    EXPECT_EQ(frames, 0);
    Long n = 5;
    String name = "x";
    c.GetFilename(n, name);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(name, "");
    EXPECT_EQ(c.df, "");
    EXPECT_EQ(c.UnitIndex, 0);
    EXPECT_EQ(c.fgTransferOK, VbFalse);
    EXPECT_EQ(c.fgComPortOpen, VbFalse);
    EXPECT_EQ(c.Port(), 0);
    EXPECT_EQ(c.Baudrate(), 0);
    EXPECT_EQ(c.Settings(), "");
}

TEST(Control, ReadStatusAnswersOneNotTrue) {
    FakeControl f;
    f.comm->fgTransferOK = VbTrue;
    Long frames = 0;
    EXPECT_EQ(f.comm->Read_Status(frames), 1);
    f.comm->fgTransferOK = 5;  // any nonzero value counts as true
    EXPECT_EQ(f.comm->Read_Status(frames), 1);
}

TEST(Control, CheckFileAlwaysAnswersTrue) {
    FakeControl f;
    Boolean yes = VbFalse;
    f.comm->CheckFile(yes);
    EXPECT_EQ(yes, VbTrue);
}

TEST(Control, PropertiesReadBackWhatWasStored) {
    FakeControl f;
    Vantor_Comm& c = *f.comm;
    c.Settings("1200,E,7,2 and nonsense");
    EXPECT_EQ(c.Settings(), "1200,E,7,2 and nonsense");
    c.Baudrate(-32768);
    EXPECT_EQ(c.Baudrate(), -32768);
    c.Port(3);
    EXPECT_EQ(c.Port(), 3);
    c.fg_Two_Display = 7;
    c.bReadDataOK = VbTrue;
    c.datano = 12;
    c.df = "/tmp/x.dat";
    Long n = 0;
    String name;
    c.GetFilename(n, name);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(name, "/tmp/x.dat");
    EXPECT_EQ(c.fg_Two_Display, 7);
    EXPECT_EQ(c.bReadDataOK, VbTrue);
}

struct ParameterCase {
    const char* name;
    bool allocated;
    Long lower, upper;
    int error;                   // 0: none
    std::vector<Integer> after;  // lower..upper after the call
};

TEST(Control, GetParameterCopiesUntilAnIndexIsMissing) {
    const ParameterCase cases[] = {
        {"0..5", true, 0, 5, 0, {0, 0, 0, 0, 0, 0}},
        {"0..9", true, 0, 9, 0, {0, 0, 0, 0, 0, 0, 7, 7, 7, 7}},
        {"1..6", true, 1, 6, 9, {7, 7, 7, 7, 7, 7}},
        {"0..3", true, 0, 3, 9, {0, 0, 0, 0}},
        {"-2..5", true, -2, 5, 0, {7, 7, 0, 0, 0, 0, 0, 0}},
        {"unallocated", false, 0, 0, 9, {}},
    };
    for (const auto& c : cases) {
        FakeControl f;
        VbArray<Integer> a;
        if (c.allocated) {
            a.redim(c.lower, c.upper);
            for (Long i = c.lower; i <= c.upper; ++i) a(i) = 7;
        }
        int error = 0;
        try {
            EXPECT_EQ(f.comm->GetParameter(a), 0) << c.name;
        } catch (const RuntimeError& e) {
            error = e.number();
        }
        EXPECT_EQ(error, c.error) << c.name;
        std::vector<Integer> after;
        if (a.allocated()) {
            for (Long i = a.lbound(); i <= a.ubound(); ++i) after.push_back(a(i));
        }
        EXPECT_EQ(after, c.after) << c.name;
    }
}

TEST(Panel, FreshControlShowsTheDesignState) {
    FakeControl f;
    const StatusPanel& p = f.comm->Panel();
    EXPECT_EQ(p.Label1[0].caption(), "Vantor_Comm");
    EXPECT_EQ(p.Label1[1].caption(), "Data Transfer Status");
    EXPECT_EQ(p.Label1[2].caption(), "");
    EXPECT_EQ(p.Label1[3].caption(), " Number of  Data");
    EXPECT_EQ(p.Label1[4].caption(), "0");
    EXPECT_FALSE(p.Shape1.visible());
    EXPECT_FALSE(p.Label3.visible());
    EXPECT_EQ(p.Label3.caption(), "Receiving Data ...");
    EXPECT_EQ(p.Shape1.fillColour(), 0x80FF80u);
    EXPECT_FALSE(p.Timer1.enabled());
    EXPECT_EQ(p.Timer1.interval(), 500);
    EXPECT_EQ(p.Label1[2].backColour, 0xC0FFC0u);
    EXPECT_EQ(p.Label1[4].foreColour, 0xFF0000u);
    EXPECT_EQ(p.Label1[3].rect.left, 4200);
    EXPECT_EQ(p.Label3.font.bold, true);
    EXPECT_EQ(p.Shape1.rect.width, 255);
}

TEST(Panel, ResizeRestoresTheTitleAndMovesNothing) {
    FakeControl f;
    StatusPanel& p = f.comm->Panel();
    p.Label1[0].setCaption("other");
    f.comm->UserControl_Resize();
    EXPECT_EQ(p.Label1[0].caption(), "Vantor_Comm");
    EXPECT_EQ(p.Label1[0].rect.left, 120);
    EXPECT_EQ(p.Label1[4].rect.top, 1560);
}

}  // namespace
}  // namespace vantor
