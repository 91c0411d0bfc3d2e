// The message loop of a Win32 thread: timers and posted calls on a
// message-only window of the thread that creates it.
#pragma once

#include <vantor/message_loop.h>
#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace vantor {

// Lives on the thread that creates it, which must pump its messages (a
// host's GetMessage loop, a modal dialog, or waitForEvents). Only post() may
// be called from other threads.
class Win32MessageLoop : public MessageLoop {
  public:
    Win32MessageLoop();
    ~Win32MessageLoop() override;
    Win32MessageLoop(const Win32MessageLoop&) = delete;
    Win32MessageLoop& operator=(const Win32MessageLoop&) = delete;

    TimerId startTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    // Safe from any thread: a reader thread hands its work to the loop's.
    void post(std::function<void()> fn) override;
    // Dispatches every message of the thread, the host's windows' too.
    void waitForEvents(std::chrono::milliseconds maxWait) override;
    Clock::time_point now() const override { return Clock::now(); }

    // Runs the timers that are due and the calls posted so far, without
    // waiting and without dispatching the thread's other messages.
    void runPending();

  private:
    struct Timer {
        std::chrono::milliseconds interval;
        Clock::time_point due;
        std::shared_ptr<std::function<void()>> tick;
    };

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void timerMessage(TimerId id);
    void arm(TimerId id, Clock::time_point due);
    // Runs the calls posted before it began; true when it ran any.
    bool runPosted();
    // Dispatches what waits in the queue (only this loop's, unless `all`).
    bool dispatch(bool all);
    void wake();
    void keepQuit();

    HWND window_ = nullptr;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    // A WM_QUIT taken from the queue, put back for the host's loop.
    bool quitTaken_ = false;
    int quitCode_ = 0;

    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    bool wakePosted_ = false;
};

}  // namespace vantor
