// The drawn panel: design state, appearance, twips to pixels, and how it
// follows the control through a download.
#include <gtest/gtest.h>
#include <vantor/indicator_widget.h>
#include <vantor/panel_label.h>

#include <QApplication>
#include <QMessageBox>

#include "gui_test_support.h"
#include "sim/meter_memory.h"
#include "widgets/forms_qt.h"

namespace vantor::testing {
namespace {

using std::chrono::milliseconds;

const QColor kGreen(128, 255, 128);
const QColor kBlue(128, 128, 255);

std::string text(const QLabel* label) {
    return label->text().toStdString();
}

// Every drawn part shows what its model holds.
void expectPanelMatchesModel(VantorCommWidget& w) {
    const StatusPanel& p = w.control().Panel();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE("Label1(" + std::to_string(i) + ")");
        EXPECT_EQ(text(w.label1(i)), p.Label1[static_cast<std::size_t>(i)].caption());
        EXPECT_EQ(w.label1(i)->isHidden(), !p.Label1[static_cast<std::size_t>(i)].visible());
    }
    EXPECT_EQ(text(w.label3()), p.Label3.caption());
    EXPECT_EQ(w.label3()->isHidden(), !p.Label3.visible());
    EXPECT_EQ(w.shape1()->isHidden(), !p.Shape1.visible());
    EXPECT_EQ(w.shape1()->fillColour(), toQColor(p.Shape1.fillColour()));
}

TEST(Conversions, TwipsBecomePixelsAtTheLogicalResolution) {
    EXPECT_EQ(twipsToPixels(1440, 96), 96);
    EXPECT_EQ(twipsToPixels(1440, 120), 120);
    EXPECT_EQ(twipsToPixels(6915, 96), 461);
    EXPECT_EQ(twipsToPixels(375, 144), 38);  // 37.5 rounds up
    EXPECT_EQ(twipsToPixels(TwipRect{4200, 1200, 1935, 375}, 96, 96), QRect(280, 80, 129, 25));
    EXPECT_EQ(twipsToPixels(TwipRect{120, 2160, 255, 255}, 192, 192), QRect(16, 288, 34, 34));
}

TEST(Conversions, ColoursAreBlueGreenRedWithRedInTheLowByte) {
    EXPECT_EQ(toQColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(toQColor(0xC0FFC0), QColor(0xC0, 0xFF, 0xC0));
    EXPECT_EQ(toQColor(kIndicatorGreen), kGreen);
    EXPECT_EQ(toQColor(kIndicatorBlue), kBlue);
    EXPECT_EQ(toQColor(0x0000FF), QColor(255, 0, 0));
}

TEST(Panel, FreshWidgetShowsTheDesignState) {
    FakeWidgetHost h;
    VantorCommWidget& w = *h.widget;
    EXPECT_EQ(text(w.label1(0)), "Vantor_Comm");
    EXPECT_EQ(text(w.label1(1)), "Data Transfer Status");
    EXPECT_EQ(text(w.label1(2)), "");
    EXPECT_EQ(text(w.label1(3)), " Number of  Data");
    EXPECT_EQ(text(w.label1(4)), "0");
    EXPECT_EQ(text(w.label3()), "Receiving Data ...");
    EXPECT_TRUE(w.shape1()->isHidden());
    EXPECT_TRUE(w.label3()->isHidden());
    EXPECT_EQ(w.shape1()->fillColour(), kGreen);
    // The parts can be found by their names in the control.
    EXPECT_EQ(w.findChild<QLabel*>("Label1_3"), w.label1(3));
    EXPECT_EQ(w.findChild<QLabel*>("Label3"), w.label3());
    EXPECT_EQ(w.findChild<QWidget*>("Shape1"), w.shape1());
    expectPanelMatchesModel(w);
}

TEST(Panel, AppearanceFollowsTheDesign) {
    FakeWidgetHost h;
    VantorCommWidget& w = *h.widget;
    const QColor blue(0, 0, 255);

    EXPECT_EQ(w.label1(0)->font().family(), "Arial");
    EXPECT_DOUBLE_EQ(w.label1(0)->font().pointSizeF(), 11.25);
    EXPECT_FALSE(w.label1(0)->font().bold());
    EXPECT_FALSE(w.label1(0)->border());
    EXPECT_TRUE(w.label1(0)->alignment() & Qt::AlignLeft);
    EXPECT_FALSE(w.label1(0)->autoFillBackground());

    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.label1(i)->font().family(), "Times New Roman");
        EXPECT_DOUBLE_EQ(w.label1(i)->font().pointSizeF(), 12);
        EXPECT_TRUE(w.label1(i)->border());
        EXPECT_TRUE(w.label1(i)->alignment() & Qt::AlignHCenter);
    }
    EXPECT_EQ(w.label1(1)->palette().color(QPalette::WindowText), blue);
    EXPECT_FALSE(w.label1(1)->autoFillBackground());
    EXPECT_EQ(w.label1(2)->palette().color(QPalette::WindowText), blue);
    EXPECT_EQ(w.label1(2)->palette().color(QPalette::Window), QColor(0xC0, 0xFF, 0xC0));
    EXPECT_TRUE(w.label1(2)->autoFillBackground());
    EXPECT_EQ(w.label1(4)->palette().color(QPalette::WindowText), blue);
    EXPECT_EQ(w.label1(4)->palette().color(QPalette::Window), QColor(255, 255, 255));
    EXPECT_TRUE(w.label1(4)->autoFillBackground());
    // " Number of  Data" keeps the widget's own colours.
    EXPECT_EQ(w.label1(3)->palette().color(QPalette::WindowText),
              w.palette().color(QPalette::WindowText));
    EXPECT_FALSE(w.label1(3)->autoFillBackground());

    EXPECT_EQ(w.label3()->font().family(), "Times New Roman");
    EXPECT_DOUBLE_EQ(w.label3()->font().pointSizeF(), 9);
    EXPECT_TRUE(w.label3()->font().bold());
    EXPECT_FALSE(w.label3()->border());
    EXPECT_FALSE(w.label3()->autoFillBackground());  // transparent
    EXPECT_TRUE(w.label3()->alignment() & Qt::AlignLeft);
}

TEST(Panel, PositionsAreTheDesignPositionsInPixels) {
    FakeWidgetHost h;
    VantorCommWidget& w = *h.widget;
    w.show();
    const double dx = w.logicalDpiX();
    const double dy = w.logicalDpiY();
    const StatusPanel& p = w.control().Panel();

    EXPECT_EQ(w.sizeHint(), QSize(twipsToPixels(6915, dx), twipsToPixels(2775, dy)));
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const QRect design = twipsToPixels(p.Label1[static_cast<std::size_t>(i)].rect, dx, dy);
        const QRect drawn = w.label1(i)->geometry();
        if (w.label1(i)->border()) {
            EXPECT_EQ(drawn, design);
        } else {
            // A borderless caption may grow to the right where the font is wider.
            EXPECT_EQ(drawn.topLeft(), design.topLeft());
            EXPECT_EQ(drawn.height(), design.height());
            EXPECT_GE(drawn.width(), design.width());
        }
    }
    const QRect label3 = twipsToPixels(p.Label3.rect, dx, dy);
    EXPECT_EQ(w.label3()->geometry().topLeft(), label3.topLeft());
    EXPECT_EQ(w.label3()->geometry().height(), label3.height());
    const QRect shape = w.shape1()->geometry();
    EXPECT_EQ(shape, twipsToPixels(TwipRect{120, 2160, 255, 255}, dx, dy));
    EXPECT_EQ(shape.width(), shape.height());

    if (dx == 96 && dy == 96) {
        EXPECT_EQ(w.sizeHint(), QSize(461, 185));
        EXPECT_EQ(w.label1(1)->geometry(), QRect(0, 80, 241, 25));
        EXPECT_EQ(w.label1(2)->geometry(), QRect(0, 104, 241, 25));
        EXPECT_EQ(w.label1(3)->geometry(), QRect(280, 80, 129, 25));
        EXPECT_EQ(w.label1(4)->geometry(), QRect(280, 104, 129, 25));
        EXPECT_EQ(shape, QRect(8, 144, 17, 17));
    }
}

TEST(Panel, ResizingRestoresTheTitleAndMovesNothing) {
    FakeWidgetHost h;
    VantorCommWidget& w = *h.widget;
    w.show();
    const QRect before = w.label1(4)->geometry();
    w.control().Panel().Label1[0].setCaption("something else");
    EXPECT_EQ(text(w.label1(0)), "something else");
    w.resize(900, 500);
    EXPECT_EQ(text(w.label1(0)), "Vantor_Comm");
    EXPECT_EQ(w.label1(4)->geometry(), before);
    w.resize(50, 20);
    EXPECT_EQ(w.label1(4)->geometry(), before);
}

TEST(Panel, FollowsTheModelThroughAWholeDownload) {
    FakeWidgetHost h;
    ScratchDir dir;
    VantorCommWidget& w = *h.widget;
    Vantor_Comm& comm = h.comm();
    int ended = 0;
    QObject::connect(&w, &VantorCommWidget::transferEnded, [&ended] { ++ended; });
    w.show();
    comm.df = dir.file("readings.dat");
    w.setPort(1);

    comm.Start();
    ASSERT_TRUE(comm.fgComPortOpen);
    // Armed.
    EXPECT_EQ(text(w.label1(2)), "Press Send Key to Transfer Data");
    EXPECT_EQ(text(w.label1(4)), "0");
    EXPECT_TRUE(w.shape1()->isVisible());
    EXPECT_TRUE(w.label3()->isVisible());
    expectPanelMatchesModel(w);

    // Blinking: the first tick sets the design green, the next one blue.
    h.loop.advance(milliseconds(500));
    EXPECT_EQ(w.shape1()->fillColour(), kGreen);
    expectPanelMatchesModel(w);
    h.loop.advance(milliseconds(500));
    EXPECT_EQ(w.shape1()->fillColour(), kBlue);
    expectPanelMatchesModel(w);

    const std::string stream = sim::transferStream(sim::standardMemory(40));
    const std::size_t half = 20 * sim::kFrameSize;
    h.serial->arrive(stream.substr(0, half));
    EXPECT_EQ(comm.datano, 20);
    // The counter shows the count of the last tick until the next one.
    EXPECT_EQ(text(w.label1(4)), "0");
    h.loop.advance(milliseconds(500));
    EXPECT_EQ(text(w.label1(4)), "20");
    EXPECT_EQ(w.shape1()->fillColour(), kGreen);
    EXPECT_EQ(text(w.label1(2)), "Press Send Key to Transfer Data");
    expectPanelMatchesModel(w);
    const QColor lastFill = w.shape1()->fillColour();

    // Finished.
    h.serial->arrive(stream.substr(half));
    EXPECT_EQ(comm.datano, 40);
    EXPECT_EQ(text(w.label1(2)), "Data Transfer OK");
    EXPECT_EQ(text(w.label1(4)), "40");
    EXPECT_FALSE(w.shape1()->isVisible());
    EXPECT_FALSE(w.label3()->isVisible());
    EXPECT_EQ(ended, 1);
    expectPanelMatchesModel(w);

    // No tick after the end: the fill stays where it was.
    h.loop.advance(milliseconds(3000));
    EXPECT_EQ(w.shape1()->fillColour(), lastFill);
    expectPanelMatchesModel(w);
    EXPECT_TRUE(h.messages.messages.empty());

    // A new Start goes back to armed.
    comm.Start();
    EXPECT_EQ(text(w.label1(2)), "Press Send Key to Transfer Data");
    EXPECT_EQ(text(w.label1(4)), "0");
    EXPECT_TRUE(w.shape1()->isVisible());
    expectPanelMatchesModel(w);
}

TEST(Panel, BlockingDownloadEndsInTheFinishedState) {
    FakeWidgetHost h;
    ScratchDir dir;
    VantorCommWidget& w = *h.widget;
    Vantor_Comm& comm = h.comm();
    comm.df = dir.file("readings.dat");
    w.setPort(1);
    const std::string stream = sim::transferStream(sim::standardMemory(16));
    // The meter starts sending once the download waits for it.
    h.loop.post(milliseconds(100), [&] { h.serial->arrive(stream); });
    comm.ReadDataLogger();
    EXPECT_EQ(text(w.label1(2)), "Data Transfer OK");
    EXPECT_EQ(text(w.label1(4)), std::to_string(comm.datano));
    EXPECT_TRUE(w.shape1()->isHidden());
    EXPECT_TRUE(w.label3()->isHidden());
    ASSERT_EQ(h.messages.messages.size(), 1u);
    EXPECT_EQ(h.messages.messages[0], "Data Received O.K!");
    expectPanelMatchesModel(w);
}

TEST(Panel, PropertiesReachTheControl) {
    FakeWidgetHost h;
    ScratchDir dir;
    VantorCommWidget& w = *h.widget;

    EXPECT_TRUE(w.setProperty("Port", 3));
    EXPECT_EQ(w.control().Port(), 3);
    EXPECT_EQ(w.property("Port").toInt(), 3);
    w.setPort(70000);
    EXPECT_EQ(w.control().Port(), 32767);

    writeFile(dir.file("unit2.dat"), "0,V\r\n1,mV\r\n");
    const QString folder = QString::fromStdString(dir.path());
    EXPECT_TRUE(w.setProperty("AppPath", folder));
    EXPECT_EQ(w.property("AppPath").toString(), folder) << w.appPath().toStdString();
    w.control().ReadUnitFile();  // reads the unit file of that folder
    EXPECT_EQ(w.control().df, dir.file("20120604.dat"));

    w.setDevice(2, "/dev/ttyUSB7");
    EXPECT_EQ(w.control().Ports().device(2), "/dev/ttyUSB7");
}

}  // namespace
}  // namespace vantor::testing
