#include "kit/fake/message_loop_fake.h"

namespace vantor {

MessageLoop::TimerId FakeMessageLoop::startTimer(std::chrono::milliseconds interval,
                                                 std::function<void()> tick) {
    TimerId id = nextTimer_++;
    timers_[id] = TimerEntry{interval, now_ + interval, std::move(tick)};
    return id;
}

void FakeMessageLoop::stopTimer(TimerId id) {
    timers_.erase(id);
}

void FakeMessageLoop::post(std::chrono::milliseconds delay, std::function<void()> fn) {
    postAt(now_ + delay, std::move(fn));
}

void FakeMessageLoop::postAt(Clock::time_point due, std::function<void()> fn) {
    posted_.emplace(Event{due, seq_++}, std::move(fn));
}

bool FakeMessageLoop::runNext(Clock::time_point limit) {
    // The earliest of the posted events and the timers; posted first on a tie.
    auto p = posted_.begin();
    auto t = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (t == timers_.end() || it->second.due < t->second.due) t = it;
    }
    bool havePosted = p != posted_.end() && p->first.due <= limit;
    bool haveTimer = t != timers_.end() && t->second.due <= limit;
    if (havePosted && (!haveTimer || p->first.due <= t->second.due)) {
        now_ = std::max(now_, p->first.due);
        auto fn = std::move(p->second);
        posted_.erase(p);
        fn();
        return true;
    }
    if (haveTimer) {
        now_ = std::max(now_, t->second.due);
        t->second.due += t->second.interval;
        auto tick = t->second.tick;  // the tick may stop its own timer
        tick();
        return true;
    }
    return false;
}

void FakeMessageLoop::waitForEvents(std::chrono::milliseconds maxWait) {
    Clock::time_point limit = now_ + maxWait;
    if (!runNext(limit)) now_ = limit;
}

void FakeMessageLoop::advance(std::chrono::milliseconds span) {
    Clock::time_point limit = now_ + span;
    while (runNext(limit)) {
    }
    now_ = limit;
}

bool FakeMessageLoop::runPosted(std::chrono::milliseconds limit) {
    Clock::time_point end = now_ + limit;
    while (!posted_.empty() && posted_.begin()->first.due <= end) runNext(end);
    return posted_.empty();
}

}  // namespace vantor
