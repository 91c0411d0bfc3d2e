#include "platform/qt/message_loop_qt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace vantor {

QtMessageLoop::QtMessageLoop() : context_(std::make_unique<QObject>()) {}

QtMessageLoop::~QtMessageLoop() {
    for (auto& [id, timer] : timers_) delete timer;
}

MessageLoop::TimerId QtMessageLoop::startTimer(std::chrono::milliseconds interval,
                                               std::function<void()> tick) {
    auto* timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(tick));
    timer->start(interval);
    TimerId id = nextId_++;
    timers_[id] = timer;
    return id;
}

void QtMessageLoop::stopTimer(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    // The timer may be stopped from inside its own tick.
    it->second->deleteLater();
    timers_.erase(it);
}

void QtMessageLoop::post(std::function<void()> fn) {
    // Runs on this loop's thread, which need not be the application's.
    QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
}

void QtMessageLoop::waitForEvents(std::chrono::milliseconds maxWait) {
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(maxWait);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace vantor
