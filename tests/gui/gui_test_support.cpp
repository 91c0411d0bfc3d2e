#include "gui_test_support.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <atomic>
#include <fstream>

namespace vantor::testing {

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vantor-gui-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

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

FakeWidgetHost::FakeWidgetHost() {
    auto backend = std::make_unique<FakeSerialBackend>();
    serial = backend.get();
    widget = std::make_unique<VantorCommWidget>(
        ControlPlatform{loop, messages, dates, std::move(backend)});
}

FakeWidgetHost::~FakeWidgetHost() = default;

}  // namespace vantor::testing
