// Helpers of the widget tests: waiting in the event loop, confirming message
// boxes, and a widget on the fake platform.
#pragma once

#include <vantor/vantor_comm_widget.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "kit/fake_control.h"
#include "kit/files.h"

namespace vantor::testing {

// Runs the Qt event loop until `done` holds or the guard passes (a guard
// against hanging, far longer than any run needs); returns `done()`.
bool waitUntil(const std::function<bool()>& done, int guardMs = 60000);

// Confirms every modal message box as soon as it is up, and notes what it showed.
class MessageBoxWatcher {
  public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();

    struct Seen {
        std::string text;
        std::string title;
        int buttons;
        bool okOnly;
        QWidget* parent;
    };
    std::vector<Seen> seen;

  private:
    QTimer timer_;
};

// A VantorCommWidget over the fake loop, serial port, message sink and date.
struct FakeWidgetHost : FakePlatform {
    FakeWidgetHost();
    ~FakeWidgetHost();

    std::unique_ptr<VantorCommWidget> widget;
    Vantor_Comm& comm() { return widget->control(); }
};

}  // namespace vantor::testing
