// Message boxes: one modal box per message, one OK button, no title of its own.
#include <gtest/gtest.h>

#include "gui_test_support.h"
#include "widgets/qt_message_sink.h"

namespace vantor::testing {
namespace {

TEST(QtMessageSink, ShowsEachMessageInAModalBoxWithOneOkButtonAndNoTitle) {
    MessageBoxWatcher watcher;
    QWidget parent;
    QtMessageSink sink(&parent);
    sink.show("Data Received O.K!");
    // show() returned: the box was confirmed.
    ASSERT_EQ(watcher.seen.size(), 1u);
    sink.show("Port already open: /dev/ttyS0 is busy");
    ASSERT_EQ(watcher.seen.size(), 2u);
    EXPECT_EQ(watcher.seen[0].text, "Data Received O.K!");
    EXPECT_EQ(watcher.seen[1].text, "Port already open: /dev/ttyS0 is busy");
    for (const auto& box : watcher.seen) {
        EXPECT_EQ(box.title, "");
        EXPECT_EQ(box.buttons, 1);
        EXPECT_TRUE(box.okOnly);
        EXPECT_EQ(box.parent, &parent);
    }
}

TEST(QtMessageSink, WorksWithoutAParentAndShowsTextAsItIs) {
    MessageBoxWatcher watcher;
    QtMessageSink sink;
    sink.show("<b>not markup</b>");
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].text, "<b>not markup</b>");
    EXPECT_EQ(watcher.seen[0].parent, nullptr);
}

// The widget on the real Qt backends shows the control's errors in its own boxes.
struct QtWidgetHost {
    QtWidgetHost() {
        widget.setPort(1);
        widget.control().df = dir.file("readings.dat");
    }
    ScratchDir dir;
    VantorCommWidget widget;
};

TEST(QtMessageSink, APortThatCannotBeOpenedIsShownOnce) {
    MessageBoxWatcher watcher;
    QtWidgetHost h;
    h.widget.setDevice(1, QString::fromStdString(h.dir.file("no-such-tty")));
    EXPECT_EQ(h.widget.control().Start(), 0);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_NE(watcher.seen[0].text.find("no-such-tty"), std::string::npos) << watcher.seen[0].text;
    EXPECT_EQ(watcher.seen[0].title, "");
    EXPECT_TRUE(watcher.seen[0].okOnly);
    EXPECT_EQ(watcher.seen[0].parent, &h.widget);
    EXPECT_FALSE(h.widget.control().fgComPortOpen);

    h.widget.control().ReadDataLogger();
    ASSERT_EQ(watcher.seen.size(), 2u);
    EXPECT_NE(watcher.seen[1].text.find("no-such-tty"), std::string::npos) << watcher.seen[1].text;
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(watcher.seen.size(), 2u);
}

TEST(QtMessageSink, ADataFileThatCannotBeCreatedIsShownOnce) {
    MessageBoxWatcher watcher;
    QtWidgetHost h;
    h.widget.control().df = h.dir.file("missing-folder/readings.dat");
    h.widget.control().Start();
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_FALSE(watcher.seen[0].text.empty());
    EXPECT_FALSE(h.widget.control().fgComPortOpen);
}

}  // namespace
}  // namespace vantor::testing
