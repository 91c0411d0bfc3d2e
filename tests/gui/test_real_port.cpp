// The widget on the real Qt backends, downloading from a simulated meter on a
// pseudo-terminal.
#include <gtest/gtest.h>
#include <vantor/indicator_widget.h>
#include <vantor/panel_label.h>

#include <filesystem>

#include "gui_test_support.h"
#include "sim/pty_meter.h"

namespace vantor::testing {
namespace {

TEST(RealPort, PanelFollowsADownloadFromAPseudoTerminal) {
    MessageBoxWatcher watcher;
    ScratchDir dir;
    sim::PtyMeter meter;
    VantorCommWidget widget;
    bool ended = false;
    QObject::connect(&widget, &VantorCommWidget::transferEnded, [&ended] { ended = true; });
    widget.show();
    widget.setPort(1);
    widget.setDevice(1, QString::fromStdString(meter.device()));
    widget.control().df = dir.file("readings.dat");

    widget.control().Start();
    ASSERT_TRUE(widget.control().fgComPortOpen);
    EXPECT_EQ(widget.label1(2)->text().toStdString(), "Press Send Key to Transfer Data");
    EXPECT_TRUE(widget.shape1()->isVisible());
    EXPECT_TRUE(widget.label3()->isVisible());

    meter.sendAsync(sim::transferStream(sim::standardMemory(40)), false);
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    EXPECT_TRUE(meter.wait());
    EXPECT_EQ(widget.control().LastTransferOutcome(), TransferOutcome::EndMarker);
    EXPECT_EQ(widget.control().datano, 40);
    EXPECT_EQ(widget.label1(2)->text().toStdString(), "Data Transfer OK");
    EXPECT_EQ(widget.label1(4)->text().toStdString(), "40");
    EXPECT_FALSE(widget.shape1()->isVisible());
    EXPECT_FALSE(widget.label3()->isVisible());
    EXPECT_TRUE(watcher.seen.empty());
    EXPECT_GT(std::filesystem::file_size(widget.control().df), 0u);
}

}  // namespace
}  // namespace vantor::testing
