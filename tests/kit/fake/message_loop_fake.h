// A message loop with a virtual clock: time moves only when a test advances
// it or when the control waits in the loop, and due events fire in order.
#pragma once

#include <vantor/message_loop.h>

#include <cstdint>
#include <functional>
#include <map>

namespace vantor {

class FakeMessageLoop : public MessageLoop {
  public:
    TimerId startTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    // Jumps the clock to the next due event (at most `maxWait` ahead) and runs it.
    void waitForEvents(std::chrono::milliseconds maxWait) override;
    Clock::time_point now() const override { return now_; }

    void post(std::function<void()> fn) override {
        post(std::chrono::milliseconds(0), std::move(fn));
    }
    // Runs `fn` once when the clock reaches now() + `delay`.
    void post(std::chrono::milliseconds delay, std::function<void()> fn);
    void postAt(Clock::time_point due, std::function<void()> fn);
    // Moves the clock forward by `span`, running every event that falls due.
    void advance(std::chrono::milliseconds span);
    // Runs events until none is left (timers excluded); returns false if some
    // remain after `limit`.
    bool runPosted(std::chrono::milliseconds limit = std::chrono::hours(1));
    std::size_t activeTimers() const { return timers_.size(); }

  private:
    struct Event {
        Clock::time_point due;
        std::uint64_t seq;
        bool operator<(const Event& o) const { return due != o.due ? due < o.due : seq < o.seq; }
    };
    struct TimerEntry {
        std::chrono::milliseconds interval;
        Clock::time_point due;
        std::function<void()> tick;
    };
    // Runs the earliest event due at or before `limit`; false if there is none.
    bool runNext(Clock::time_point limit);

    Clock::time_point now_{std::chrono::hours(1000)};
    std::map<Event, std::function<void()>> posted_;
    std::map<TimerId, TimerEntry> timers_;
    std::uint64_t seq_ = 0;
    TimerId nextTimer_ = 1;
};

}  // namespace vantor
