// vantor-comm-gui's window: downloads from the simulated meter, the table,
// the chart, the status line, the pickers and the error boxes.
#include <gtest/gtest.h>
#include <vantor/data_grid_view.h>

#include <QDir>

#include "gui_test_support.h"
#include "main_window.h"
#include "port_picker.h"
#ifdef VANTOR_GUI_CHARTS
#include <QtCharts/QValueAxis>

#include "readings_chart.h"
#endif

namespace vantor::testing {
namespace {

using gui::MainWindow;

struct WindowHost {
    WindowHost() {
        window.setSendDelay(50);
        QObject::connect(&window, &MainWindow::downloadFinished, [this] { ++finished; });
        window.show();
    }
    Vantor_Comm& comm() { return window.comm()->control(); }

    MessageBoxWatcher watcher;
    MainWindow window;
    int finished = 0;
};

// sessionMemory(40): eight time records and one overload among them, none plotted.
constexpr int kRecords = 40;
#ifdef VANTOR_GUI_CHARTS
constexpr int kNotPlotted = 9;  // the chart's checks only
#endif

TEST(MainWindow, SimulatedDownloadFillsTableChartAndStatus) {
    WindowHost h;
    h.window.startSimulatedMeter();
    const QString device = h.window.portPicker()->currentDevice();
    ASSERT_FALSE(device.isEmpty());
    // The simulated meter's device is what port 1 stands for, and its units have names.
    EXPECT_EQ(h.comm().Ports().device(h.comm().Port()), device.toStdString());
    EXPECT_FALSE(h.window.comm()->appPath().isEmpty());

    h.window.start();
    ASSERT_TRUE(h.comm().fgComPortOpen);
    ASSERT_TRUE(waitUntil([&] { return h.finished > 0; }));
    EXPECT_EQ(h.comm().LastTransferOutcome(), TransferOutcome::EndMarker);
    EXPECT_EQ(h.comm().datano, kRecords);
    EXPECT_EQ(h.window.table()->model()->rowCount(), kRecords);
    EXPECT_EQ(h.window.table()->model()->headerData(2, Qt::Horizontal).toString().toStdString(),
              "Value");
#ifdef VANTOR_GUI_CHARTS
    ASSERT_NE(h.window.chart(), nullptr);
    EXPECT_GT(h.window.chart()->seriesCount(), 1);
    EXPECT_EQ(h.window.chart()->pointCount(), kRecords - kNotPlotted);
    // Hiding channels from the legend narrows the value axis to the ones left.
    auto* y = qobject_cast<QValueAxis*>(h.window.chart()->chart()->axes(Qt::Vertical).value(0));
    ASSERT_NE(y, nullptr);
    const double span = y->max() - y->min();
    const int n = h.window.chart()->seriesCount();
    for (int i = 0; i + 1 < n; ++i) h.window.chart()->toggleSeries(i);
    EXPECT_LT(y->max() - y->min(), span);
    EXPECT_FALSE(h.window.chart()->chart()->series()[0]->isVisible());
    EXPECT_TRUE(h.window.chart()->chart()->series()[n - 1]->isVisible());
    h.window.chart()->toggleSeries(0);
    EXPECT_TRUE(h.window.chart()->chart()->series()[0]->isVisible());
#endif
    Long frames = 0;
    h.comm().Read_Status(frames);
    EXPECT_EQ(h.window.statusText().toStdString(), "frames: " + std::to_string(frames) +
                                                       "  records: " + std::to_string(kRecords) +
                                                       "  file: " + h.comm().df);
    EXPECT_TRUE(h.watcher.seen.empty());
}

TEST(MainWindow, ReadDownloadsInOneBlockingCall) {
    WindowHost h;
    h.window.startSimulatedMeter();
    h.window.read();  // returns once the download is over
    EXPECT_EQ(h.comm().LastTransferOutcome(), TransferOutcome::EndMarker);
    ASSERT_EQ(h.watcher.seen.size(), 1u);
    EXPECT_EQ(h.watcher.seen[0].text, "Data Received O.K!");
    ASSERT_TRUE(waitUntil([&] { return h.finished > 0; }));
    EXPECT_EQ(h.window.table()->model()->rowCount(), kRecords);
}

TEST(MainWindow, ClosingDuringABlockingReadEndsItFirst) {
    WindowHost h;
    h.window.startSimulatedMeter();
    h.window.setSendDelay(3600 * 1000);  // the meter stays silent
    QTimer::singleShot(100, &h.window, [&h] { h.window.close(); });
    h.window.read();
    EXPECT_EQ(h.comm().LastTransferOutcome(), TransferOutcome::Aborted);
    EXPECT_FALSE(h.comm().fgComPortOpen);
    EXPECT_TRUE(h.window.isVisible());  // the close was put off until the read returned
    ASSERT_TRUE(waitUntil([&] { return !h.window.isVisible(); }));
}

TEST(MainWindow, AFolderWithoutUnitFileShowsTheErrorNumber) {
    WindowHost h;
    ScratchDir dir;
    h.window.useFolder(QString::fromStdString(dir.path()));
    ASSERT_EQ(h.watcher.seen.size(), 1u);
    EXPECT_TRUE(h.watcher.seen[0].text.rfind("error 53: ", 0) == 0) << h.watcher.seen[0].text;
    EXPECT_EQ(h.watcher.seen[0].title, "");
    // The data file is named after the folder all the same.
    EXPECT_EQ(QString::fromStdString(h.comm().df).left(dir.path().size()),
              QString::fromStdString(dir.path()));
}

TEST(MainWindow, ViewWithoutRecordsShowsTheErrorNumber) {
    WindowHost h;
    h.window.view();
    ASSERT_EQ(h.watcher.seen.size(), 1u);
    EXPECT_TRUE(h.watcher.seen[0].text.rfind("error 9: ", 0) == 0) << h.watcher.seen[0].text;
}

TEST(PortPicker, KeepsAddedDevicesAcrossRefreshes) {
    gui::PortPicker picker;
    QString chosen;
    QObject::connect(&picker, &gui::PortPicker::deviceChosen,
                     [&chosen](const QString& d) { chosen = d; });
    picker.addDevice("/dev/pts/77", "Simulated meter");
    EXPECT_EQ(picker.currentDevice().toStdString(), "/dev/pts/77");
    EXPECT_EQ(chosen.toStdString(), "/dev/pts/77");
    EXPECT_TRUE(picker.currentText().contains("Simulated meter"));
    picker.refresh();
    EXPECT_EQ(picker.currentDevice().toStdString(), "/dev/pts/77");
    picker.showPopup();
    picker.hidePopup();
    EXPECT_GE(picker.findData("/dev/pts/77"), 0);
    // The stable names of USB adapters are listed too.
    const QDir byId("/dev/serial/by-id");
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files)) {
        EXPECT_GE(picker.findData(link.absoluteFilePath()), 0);
    }
}

}  // namespace
}  // namespace vantor::testing
