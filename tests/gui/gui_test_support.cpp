#include "gui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>

namespace vantor::testing {

bool waitUntil(const std::function<bool()>& done, int guardMs) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < guardMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return done();
}

MessageBoxWatcher::MessageBoxWatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        const auto buttons = box->buttons();
        seen.push_back({box->text().toStdString(), box->windowTitle().toStdString(),
                        static_cast<int>(buttons.size()),
                        buttons.size() == 1 && box->standardButton(buttons[0]) == QMessageBox::Ok,
                        box->parentWidget()});
        box->accept();
    });
    timer_.start(5);
}

MessageBoxWatcher::~MessageBoxWatcher() = default;

FakeWidgetHost::FakeWidgetHost()
    : FakePlatform(Date{2012, 6, 4}), widget(std::make_unique<VantorCommWidget>(platform())) {}

FakeWidgetHost::~FakeWidgetHost() = default;

}  // namespace vantor::testing
