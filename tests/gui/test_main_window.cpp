// vantor-comm-gui's window: downloads from the simulated meter on the real
// backends, the panel, the table, the chart, the status line, the pickers and
// the error boxes.
#include <gtest/gtest.h>
#include <vantor/data_grid_view.h>
#include <vantor/indicator_widget.h>
#include <vantor/panel_label.h>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include "gui_test_support.h"
#include "main_window.h"
#include "port_picker.h"
#include "sim/meter_memory.h"
#include "sim/pty_meter.h"
#include "simulated_meter.h"
#ifdef VANTOR_GUI_CHARTS
#include <QtCharts/QChart>

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

constexpr int kRecords = gui::SimulatedMeter::kRecords;
#ifdef VANTOR_GUI_CHARTS
// Time records and the overload reading are not plotted.
int notPlotted() {
    int n = 0;
    for (const auto& r : sim::sessionMemory(kRecords)) {
        n += r.kind == sim::MeterRecord::Kind::Time || r.body.find('L') != std::string::npos;
    }
    return n;
}
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
    EXPECT_EQ(h.window.comm()->label1(2)->text().toStdString(), "Press Send Key to Transfer Data");
    EXPECT_TRUE(h.window.comm()->shape1()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return h.finished > 0; }));
    EXPECT_EQ(h.comm().LastTransferOutcome(), TransferOutcome::EndMarker);
    EXPECT_EQ(h.comm().datano, kRecords);
    EXPECT_EQ(h.window.comm()->label1(2)->text().toStdString(), "Data Transfer OK");
    EXPECT_FALSE(h.window.comm()->shape1()->isVisible());
    EXPECT_EQ(h.window.table()->model()->rowCount(), kRecords);
    EXPECT_EQ(h.window.table()->model()->headerData(2, Qt::Horizontal).toString().toStdString(),
              "Value");
    // Numbers right-aligned, units left-aligned whether name or code.
    const QAbstractItemModel* table = h.window.table()->model();
    auto alignment = [table](int row, int col) {
        return table->data(table->index(row, col), Qt::TextAlignmentRole).toInt() &
               Qt::AlignHorizontal_Mask;
    };
    EXPECT_EQ(alignment(1, 2), Qt::AlignRight);
    EXPECT_EQ(alignment(1, 3), Qt::AlignLeft);
    EXPECT_TRUE(table->data(table->index(0, 2), Qt::ToolTipRole).toString().contains("2012-06-04"));
#ifdef VANTOR_GUI_CHARTS
    gui::ReadingsChart* chart = h.window.chart();
    ASSERT_NE(chart, nullptr);
    EXPECT_TRUE(chart->byTime());
    EXPECT_EQ(chart->pointCount(), kRecords - notPlotted());
    // One chart per unit (degC, V, pH, kPa and unit code 12), each with one value axis
    // and only that unit's channels.
    ASSERT_EQ(chart->chartCount(), 5);
    for (int i = 0; i < chart->chartCount(); ++i) {
        QChart* c = chart->chartAt(i);
        EXPECT_EQ(c->axes(Qt::Vertical).size(), 1);
        for (QAbstractSeries* series : c->series()) {
            EXPECT_TRUE(series->name().endsWith(", " + c->title())) << series->name().toStdString();
        }
    }
    chart->toggleSeries(0, 0);
    EXPECT_FALSE(chart->chartAt(0)->series()[0]->isVisible());
    chart->toggleSeries(0, 0);
    EXPECT_TRUE(chart->chartAt(0)->series()[0]->isVisible());
    // Save chart... writes what plot writes, and leaves the charts on screen as they were.
    const QSizeF onScreen = chart->chartAt(0)->size();
    const QString picture = QString::fromStdString(h.comm().df + ".png");
    h.window.saveChart(picture);
    EXPECT_EQ(QImage(picture).height(), 220 * 5);
    EXPECT_EQ(chart->chartAt(0)->size(), onScreen);
#endif
    // Export... writes what export writes: a row per reading, or per time stamp.
    const std::string csv = h.comm().df + ".csv";
    h.window.exportReadings(QString::fromStdString(csv), true);
    EXPECT_EQ(testing::readFile(csv).rfind("time,stamp,1 degC,2 V,3 pH,11 kPa", 0), 0u)
        << testing::readFile(csv);
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

// Stop ends an armed and a blocking transfer alike; the meter stays silent.
TEST(MainWindow, StopEndsATransferInEitherMode) {
    for (bool blocking : {false, true}) {
        WindowHost h;
        h.window.startSimulatedMeter();
        h.window.setSendDelay(3600 * 1000);
        bool sawState = false;
        QTimer::singleShot(300, &h.window, [&] {
            const auto* status = h.window.findChild<QLabel*>("transferStatus");
            sawState = status->text().contains(blocking ? "gives up in" : "press SEND");
            EXPECT_FALSE(h.window.startButton()->isEnabled());
            EXPECT_FALSE(h.window.readButton()->isEnabled());
            h.window.stopButton()->click();
        });
        if (blocking) {
            h.window.read();
        } else {
            h.window.start();
        }
        ASSERT_TRUE(waitUntil([&] { return h.finished > 0; })) << blocking;
        EXPECT_TRUE(sawState) << blocking;
        EXPECT_EQ(h.comm().LastTransferOutcome(), TransferOutcome::Aborted);
        EXPECT_FALSE(h.comm().fgComPortOpen);
        EXPECT_TRUE(h.window.startButton()->isEnabled());
        EXPECT_FALSE(h.window.stopButton()->isEnabled());
    }
}

// Every cell's text and alignment.
QStringList cellsOf(const QAbstractItemModel* m, int rows) {
    QStringList cells;
    for (int r = 0; r < rows * m->columnCount(); ++r) {
        const QModelIndex i = m->index(r / m->columnCount(), r % m->columnCount());
        cells << m->data(i).toString() + "|" + m->data(i, Qt::TextAlignmentRole).toString();
    }
    return cells;
}

// Records show while they arrive, as the finished table shows them, and the
// last download's are gone first.
TEST(MainWindow, ShowsRecordsWhileTheyArrive) {
    WindowHost h;
    ScratchDir dir;
    h.comm().df = dir.file("live.dat");
    sim::PtyMeter meter;
    h.window.portPicker()->addDevice(QString::fromStdString(meter.device()), "test meter");
    const std::vector<sim::MeterRecord> memory = sim::sessionMemory(30);
    std::string firstPart;
    for (int i = 0; i < 12; ++i) firstPart += sim::frame(memory[static_cast<std::size_t>(i)].body);
    std::string rest;
    for (std::size_t i = 12; i < memory.size(); ++i) rest += sim::frame(memory[i].body);
    rest += sim::endMarker();

    h.window.start();
    ASSERT_TRUE(h.comm().fgComPortOpen);
    EXPECT_EQ(h.window.table()->model()->rowCount(), 0);  // no empty row before data
    ASSERT_TRUE(meter.send(firstPart, false));
    ASSERT_TRUE(waitUntil([&] { return h.window.table()->model()->rowCount() == 12; }));
    EXPECT_EQ(h.finished, 0);
    const QStringList live = cellsOf(h.window.table()->model(), 12);
#ifdef VANTOR_GUI_CHARTS
    EXPECT_GT(h.window.chart()->pointCount(), 0);
#endif
    ASSERT_TRUE(meter.send(rest, false));
    ASSERT_TRUE(waitUntil([&] { return h.finished > 0; }));
    EXPECT_EQ(h.window.table()->model()->rowCount(), 30);
    EXPECT_EQ(cellsOf(h.window.table()->model(), 12), live);

    // A new download starts from an empty table.
    h.comm().df = dir.file("next.dat");
    h.window.start();
    EXPECT_EQ(h.window.table()->model()->rowCount(), 0);
    h.window.stop();
}

// A Start that cannot arm has emptied the table: View must still show what it reads.
TEST(MainWindow, ViewAfterAStartThatCouldNotArmShowsTheRecords) {
    WindowHost h;
    ScratchDir dir;
    h.comm().df = dir.file("d.dat");
    h.comm().Ports().set(h.comm().Port(), dir.file("no-such-tty"));
    h.window.start();
    ASSERT_FALSE(h.comm().fgComPortOpen);
    writeFile(h.comm().df, "0,\"120604154815\",\"Time\",0\r\n1,2.5,12,1\r\n");
    h.comm().datano = 2;
    h.window.view();
    EXPECT_EQ(h.window.table()->model()->rowCount(), 2);
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
