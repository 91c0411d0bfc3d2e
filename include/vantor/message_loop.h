// The host's message loop: timers and a wait that lets pending events run.
#pragma once

#include <chrono>
#include <functional>

namespace vantor {

// Everything the control does runs on the thread that owns its message loop.
// Timer callbacks and other events run only from inside the loop (between the
// host's calls, or inside waitForEvents).
class MessageLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using TimerId = int;

    virtual ~MessageLoop() = default;

    // Calls `tick` every `interval` until stopTimer. Ids are never 0.
    virtual TimerId startTimer(std::chrono::milliseconds interval, std::function<void()> tick) = 0;
    virtual void stopTimer(TimerId id) = 0;
    // Runs `fn` once from the loop, after the events already pending.
    virtual void post(std::function<void()> fn) = 0;

    // Runs the events that are pending; when there are none, waits without
    // spinning until one arrives or `maxWait` has passed, and runs it.
    virtual void waitForEvents(std::chrono::milliseconds maxWait) = 0;

    // Monotonic time of this loop.
    virtual Clock::time_point now() const = 0;
};

}  // namespace vantor
