// The message loop of a Qt application: QTimer timers, and a wait that blocks
// in Qt's event dispatcher until an event arrives.
#pragma once

#include <vantor/message_loop.h>

#include <map>
#include <memory>

class QObject;
class QTimer;

namespace vantor {

// Lives on the thread whose Qt event loop it serves.
class QtMessageLoop : public MessageLoop {
  public:
    QtMessageLoop();
    ~QtMessageLoop() override;

    TimerId startTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    void post(std::function<void()> fn) override;
    void waitForEvents(std::chrono::milliseconds maxWait) override;
    Clock::time_point now() const override { return Clock::now(); }

  private:
    std::unique_ptr<QObject> context_;
    std::map<TimerId, QTimer*> timers_;
    TimerId nextId_ = 1;
};

}  // namespace vantor
