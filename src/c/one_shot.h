// A timer on a control's message loop that fires once and never before its
// time, since the host is told which of its limits passed.
#pragma once

#include <vantor/message_loop.h>

#include <chrono>
#include <cstdint>
#include <functional>

namespace vantor {

class OneShot {
  public:
    OneShot() = default;
    ~OneShot() { stop(); }
    OneShot(const OneShot&) = delete;
    OneShot& operator=(const OneShot&) = delete;

    // `fire` runs from `loop`, which must outlive this timer.
    void attach(MessageLoop& loop, std::function<void()> fire) {
        loop_ = &loop;
        fire_ = std::move(fire);
    }
    // (Re)starts the wait.
    void start(std::int32_t milliseconds);
    void stop();

  private:
    void arm(std::chrono::milliseconds wait);

    MessageLoop* loop_ = nullptr;
    std::function<void()> fire_;
    MessageLoop::TimerId id_ = 0;
    MessageLoop::Clock::time_point due_{};
};

}  // namespace vantor
