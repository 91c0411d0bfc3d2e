// The message loop of a Qt application: QTimer timers, and a wait that blocks
// in Qt's event dispatcher until an event arrives.
#pragma once

#include <map>
#include <memory>

#include "platform/message_loop.h"

class QTimer;

namespace vantor {

// Lives on the thread of the QCoreApplication it serves.
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
    std::map<TimerId, QTimer*> timers_;
    TimerId nextId_ = 1;
};

}  // namespace vantor
