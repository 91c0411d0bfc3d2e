// The table that shows what ViewData wrote into the grid.
#include <gtest/gtest.h>

#include <QHeaderView>

#include "gui_test_support.h"
#include <vantor/data_grid_view.h>
#include "widgets/forms_qt.h"
#include "widgets/readings.h"

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

TEST(Readings, ByChannelWithoutTimeRecordsOrInvalidValues) {
    FakeWidgetHost host;
    ScratchDir dir;
    host.comm().df = dir.file("d.dat");
    writeFile(host.comm().df, kFile);
    host.comm().datano = 5;
    host.comm().ViewData();
    auto readings = readingsByChannel(host.comm().Grid());
    ASSERT_EQ(readings.size(), 2u);
    ASSERT_EQ(readings[1].size(), 1u);  // 999999 is left out
    EXPECT_EQ(readings[1][0].record, 2);
    EXPECT_DOUBLE_EQ(readings[1][0].value, 23.5);
    ASSERT_EQ(readings[2].size(), 2u);
    EXPECT_EQ(readings[2][0].record, 3);
    EXPECT_DOUBLE_EQ(readings[2][0].value, -1.25);
    EXPECT_DOUBLE_EQ(readings[2][1].value, 1.5e-14);
    EXPECT_EQ(readings.count(0), 0u);  // the time record's channel
}

}  // namespace
}  // namespace vantor::testing
