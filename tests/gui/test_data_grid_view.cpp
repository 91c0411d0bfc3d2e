// The table that shows what ViewData wrote into the grid.
#include <gtest/gtest.h>
#include <vantor/data_grid_view.h>
#include <vantor/grid_readings.h>

#include <QHeaderView>
#include <tuple>

#include "gui_test_support.h"
#include "widgets/forms_qt.h"

namespace vantor::testing {
namespace {

const std::string kFile =
    "0,\"120604154815\",\"Time\",0\r\n"
    "1,23.5,\"C         \",1\r\n"
    "2,-1.25,12,2\r\n"
    "3,999999,\"V         \",1\r\n"
    "4,1.5E-14,\"mV        \",2\r\n";

std::string cell(const DataGridView& view, int row, int col) {
    return view.model()->data(view.model()->index(row, col)).toString().toStdString();
}

std::string header(const DataGridView& view, int col) {
    return view.model()->headerData(col, Qt::Horizontal).toString().toStdString();
}

struct TableHost {
    TableHost() {
        view.setSource(host.widget.get());
        view.resize(500, 300);
        QObject::connect(&view, &DataGridView::refreshed, [this] { ++refreshes; });
        host.comm().df = dir.file("readings.dat");
    }
    // Runs the event loop until the view has taken the grid's state.
    bool settle() {
        const int before = refreshes;
        return waitUntil([&] { return refreshes > before; });
    }

    FakeWidgetHost host;
    ScratchDir dir;
    DataGridView view;
    int refreshes = 0;
};

TEST(DataGridView, ShowsWhatViewDataWrote) {
    TableHost t;
    writeFile(t.host.comm().df, kFile);
    t.host.comm().datano = 5;
    t.view.show();
    t.host.comm().ViewData();
    ASSERT_TRUE(t.settle());

    const DataGrid& grid = t.host.comm().Grid();
    ASSERT_EQ(t.view.model()->rowCount(), grid.Rows() - 1);
    EXPECT_EQ(t.view.model()->rowCount(), 5);
    EXPECT_EQ(t.view.model()->columnCount(), 4);
    EXPECT_EQ(header(t.view, 0), "No.");
    EXPECT_EQ(header(t.view, 1), "Channel");
    EXPECT_EQ(header(t.view, 2), "Value");
    EXPECT_EQ(header(t.view, 3), "Unit");
    for (int r = 1; r < grid.Rows(); ++r) {
        for (int c = 0; c < 4; ++c) {
            SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
            EXPECT_EQ(cell(t.view, r - 1, c), grid.TextMatrix(r, c));
        }
    }
    EXPECT_EQ(cell(t.view, 0, 0), "1");
    EXPECT_EQ(cell(t.view, 0, 2), "120604 15:48:15");
    EXPECT_EQ(cell(t.view, 0, 3), "Time");
    EXPECT_EQ(cell(t.view, 1, 3), "C         ");  // padding kept
    EXPECT_EQ(cell(t.view, 2, 1), "2");
    EXPECT_EQ(cell(t.view, 2, 2), "-1.25");
}

TEST(DataGridView, AppliesWidthsHeightsAlignmentAndTopRow) {
    TableHost t;
    std::string file;
    for (int i = 0; i < 200; ++i)
        file += std::to_string(i) + "," + std::to_string(i) + ".5,7,1\r\n";
    writeFile(t.host.comm().df, file);
    t.host.comm().datano = 200;
    t.view.show();
    t.host.comm().ViewData();
    ASSERT_TRUE(t.settle());

    const double dx = t.view.logicalDpiX();
    const double dy = t.view.logicalDpiY();
    EXPECT_EQ(t.view.columnWidth(1), twipsToPixels(6915.0 / 5, dx));
    EXPECT_EQ(t.view.columnWidth(2), twipsToPixels(6915.0 / 3, dx));
    for (int r : {0, 1, 99, 199}) EXPECT_EQ(t.view.rowHeight(r), twipsToPixels(360, dy));
    const QAbstractItemModel* m = t.view.model();
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(m->data(m->index(5, c), Qt::TextAlignmentRole).value<Qt::Alignment>(),
                  Qt::AlignHCenter | Qt::AlignVCenter);
    }

    // TopRow 1: a new view starts at the first record, wherever the operator had scrolled.
    t.view.scrollToBottom();
    EXPECT_GT(t.view.rowAt(0), 0);
    t.host.comm().ViewData();
    ASSERT_TRUE(t.settle());
    EXPECT_EQ(t.view.rowAt(0), 0);
}

TEST(DataGridView, RefreshesOnceForAWholeViewData) {
    TableHost t;
    std::string file;
    for (int i = 0; i < 2000; ++i)
        file += std::to_string(i) + ",1.25,3," + std::to_string(i % 7) + "\r\n";
    writeFile(t.host.comm().df, file);
    t.host.comm().datano = 2000;
    t.view.show();
    t.host.comm().ViewData();  // some 12000 writes into the grid
    ASSERT_TRUE(t.settle());
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(t.refreshes, 1);
    EXPECT_EQ(t.view.model()->rowCount(), 2000);
    EXPECT_EQ(cell(t.view, 1999, 1), "4");
}

TEST(DataGridView, AFailedViewDataLeavesTheTable) {
    TableHost t;
    writeFile(t.host.comm().df, kFile);
    t.host.comm().datano = 3;
    t.host.comm().ViewData();
    ASSERT_TRUE(t.settle());
    t.host.comm().datano = 0;
    EXPECT_THROW(t.host.comm().ViewData(), RuntimeError);
    t.host.comm().datano = 9;  // more than the file holds
    EXPECT_THROW(t.host.comm().ViewData(), RuntimeError);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(t.view.model()->rowCount(), 3);
    EXPECT_EQ(cell(t.view, 2, 2), "-1.25");
}

TEST(DataGridView, LetsGoOfTheGridWhenTheControlGoes) {
    DataGridView view;
    {
        FakeWidgetHost host;
        ScratchDir dir;
        view.setSource(host.widget.get());
        host.comm().df = dir.file("d.dat");
        writeFile(host.comm().df, kFile);
        host.comm().datano = 2;
        host.comm().ViewData();
        view.gridModel()->refresh();
        EXPECT_EQ(view.model()->rowCount(), 2);
    }
    EXPECT_EQ(view.gridModel()->grid(), nullptr);
    EXPECT_EQ(view.model()->rowCount(), 0);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST(DataGridView, AlignmentCodes) {
    EXPECT_EQ(DataGridModel::alignmentOf(4), Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(DataGridModel::alignmentOf(0), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_EQ(DataGridModel::alignmentOf(1), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_EQ(DataGridModel::alignmentOf(3), Qt::AlignHCenter | Qt::AlignTop);
    EXPECT_EQ(DataGridModel::alignmentOf(8), Qt::AlignRight | Qt::AlignBottom);
    EXPECT_EQ(DataGridModel::alignmentOf(9), Qt::AlignLeft | Qt::AlignVCenter);
}

TEST(Readings, OneSeriesPerChannelAndUnitAtTheStampBefore) {
    FakeWidgetHost host;
    ScratchDir dir;
    host.comm().df = dir.file("d.dat");
    writeFile(host.comm().df, kFile +
                                  "5,2.5,\"C         \",2\r\n6,\"120604154915\",\"Time\",0\r\n" +
                                  "7,24,\"C         \",1\r\n");
    host.comm().datano = 8;
    host.comm().ViewData();
    const auto series = readingSeries(host.comm().Grid());
    // By unit, then channel: C on 1 and 2, mV on 2, unit code 12 on 2; V had only 999999.
    ASSERT_EQ(series.size(), 4u);
    EXPECT_EQ(std::make_tuple(series[0].unit, series[0].channel, series[0].unitIsCode),
              std::make_tuple(std::string("12"), Integer{2}, true));
    EXPECT_EQ(std::make_tuple(series[1].unit, series[1].channel),
              std::make_tuple(std::string("C"), Integer{1}));
    EXPECT_EQ(series[2].unit, "C");
    EXPECT_EQ(series[2].channel, 2);
    EXPECT_EQ(series[3].unit, "mV");
    ASSERT_EQ(series[1].points.size(), 2u);
    EXPECT_DOUBLE_EQ(series[1].points[0].value, 23.5);
    EXPECT_EQ(series[1].points[0].record, 2);
    // 2012-06-04 15:48:15 UTC, then the next stamp a minute later.
    EXPECT_EQ(series[1].points[0].time, std::optional<std::int64_t>(1338824895));
    EXPECT_EQ(series[1].points[1].time, std::optional<std::int64_t>(1338824955));
    EXPECT_DOUBLE_EQ(series[3].points[0].value, 1.5e-14);
    EXPECT_EQ(stampSeconds("121304 15:48:15"), std::nullopt);  // no 13th month
}

}  // namespace
}  // namespace vantor::testing
