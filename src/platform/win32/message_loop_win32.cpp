#include "platform/win32/message_loop_win32.h"

#include <vantor/errors.h>

#include <algorithm>
#include <climits>

#include "platform/win32/serial_errors_win32.h"

namespace vantor {

namespace {

constexpr UINT kWake = WM_APP + 0x56;
constexpr wchar_t kClassName[] = L"VantorCommMessageLoop";

HINSTANCE thisModule(const void* address) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(address), &module);
    return module;
}

DWORD millisecondsUntil(MessageLoop::Clock::time_point due, MessageLoop::Clock::time_point now) {
    if (due <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    return ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

Win32MessageLoop::Win32MessageLoop() {
    const HINSTANCE module = thisModule(reinterpret_cast<const void*>(&windowProc));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &windowProc;
    wc.hInstance = module;
    wc.lpszClassName = kClassName;
    // Registered once per module; later loops find it there.
    if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the message "
                           "loop's window class cannot be registered (" +
                               systemText(::GetLastError()) + ")");
    }
    window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                                nullptr);
    if (window_ == nullptr) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the message loop's window cannot "
                           "be created on this thread (" +
                               systemText(::GetLastError()) + ")");
    }
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32MessageLoop::~Win32MessageLoop() {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    for (const auto& entry : timers_) ::KillTimer(window_, static_cast<UINT_PTR>(entry.first));
    ::DestroyWindow(window_);
    // A DLL's classes outlive it when it is unloaded; the last loop's goes
    // with it (the call fails while other loops still have windows).
    ::UnregisterClassW(kClassName, thisModule(reinterpret_cast<const void*>(&windowProc)));
}

LRESULT CALLBACK Win32MessageLoop::windowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* self = reinterpret_cast<Win32MessageLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == WM_TIMER) {
            self->timerMessage(static_cast<TimerId>(wParam));
            return 0;
        }
        if (message == kWake) {
            self->runPosted();
            return 0;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

MessageLoop::TimerId Win32MessageLoop::startTimer(std::chrono::milliseconds interval,
                                                  std::function<void()> tick) {
    TimerId id = nextId_;
    while (timers_.count(id) != 0) id = id == INT_MAX ? 1 : id + 1;
    nextId_ = id == INT_MAX ? 1 : id + 1;
    interval = std::max(interval, std::chrono::milliseconds(1));
    const Clock::time_point due = now() + interval;
    timers_[id] = Timer{interval, due, std::make_shared<std::function<void()>>(std::move(tick))};
    arm(id, due);
    return id;
}

void Win32MessageLoop::arm(TimerId id, Clock::time_point due) {
    // SetTimer rounds up to USER_TIMER_MINIMUM; a tick that comes early is armed again.
    const DWORD ms =
        std::clamp<DWORD>(millisecondsUntil(due, now()), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    if (::SetTimer(window_, static_cast<UINT_PTR>(id), ms, nullptr) == 0) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: a timer cannot "
                           "be started (" +
                               systemText(::GetLastError()) + ")");
    }
}

void Win32MessageLoop::stopTimer(TimerId id) {
    if (timers_.erase(id) != 0) ::KillTimer(window_, static_cast<UINT_PTR>(id));
}

void Win32MessageLoop::timerMessage(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        ::KillTimer(window_, static_cast<UINT_PTR>(id));
        return;
    }
    Timer& timer = it->second;
    const Clock::time_point t = now();
    if (t < timer.due) {
        try {
            arm(id, timer.due);
        } catch (const RuntimeError&) {
            // The timer Windows has keeps coming, early or not.
        }
        return;
    }
    try {
        // On time, the ticks keep their beat; a late one (a busy thread)
        // starts the next interval from now, so that none comes early.
        const bool late = t - timer.due > std::chrono::milliseconds(USER_TIMER_MINIMUM);
        timer.due = late ? t + timer.interval : timer.due + timer.interval;
        arm(id, timer.due);
    } catch (const RuntimeError&) {
        // Not armed again: the next message for it will say it is due.
    }
    // The tick may stop its own timer.
    const auto tick = timer.tick;
    (*tick)();
}

void Win32MessageLoop::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(fn));
        if (wakePosted_) return;
        wakePosted_ = true;
    }
    wake();
}

void Win32MessageLoop::wake() {
    if (!::PostMessageW(window_, kWake, 0, 0)) {
        // A full queue: the next post tries again, and waitForEvents runs them anyway.
        std::lock_guard lock(mutex_);
        wakePosted_ = false;
    }
}

bool Win32MessageLoop::runPosted() {
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        count = posted_.size();
    }
    // Only what was posted before: a busy reader cannot keep the loop here.
    bool ran = false;
    for (std::size_t i = 0; i < count; ++i) {
        std::function<void()> fn;
        bool more = false;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) break;
            fn = std::move(posted_.front());
            posted_.pop_front();
            more = !posted_.empty();
            wakePosted_ = more;
        }
        // A modal loop inside fn (a message box) still runs the rest.
        if (more) wake();
        fn();
        ran = true;
    }
    return ran;
}

bool Win32MessageLoop::dispatch(bool all) {
    bool ran = false;
    MSG msg;
    while (::PeekMessageW(&msg, all ? nullptr : window_, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The host's loop is to see it: it goes back on leaving.
            quitTaken_ = true;
            quitCode_ = static_cast<int>(msg.wParam);
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        ran = true;
    }
    return runPosted() || ran;
}

void Win32MessageLoop::keepQuit() {
    if (!quitTaken_) return;
    quitTaken_ = false;
    ::PostQuitMessage(quitCode_);
}

void Win32MessageLoop::runPending() {
    dispatch(false);
    keepQuit();
}

void Win32MessageLoop::waitForEvents(std::chrono::milliseconds maxWait) {
    const Clock::time_point deadline = now() + maxWait;
    while (!dispatch(true)) {
        const DWORD ms = millisecondsUntil(deadline, now());
        if (ms == 0) break;
        const DWORD woke =
            ::MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_TIMEOUT) break;
        if (woke == WAIT_FAILED) ::Sleep(std::min<DWORD>(ms, USER_TIMER_MINIMUM));
    }
    keepQuit();
}

}  // namespace vantor
