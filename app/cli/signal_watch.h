// SIGINT and SIGTERM (and, when asked, SIGHUP) caught for the life of a
// SignalWatch, so that a download or the simulated meter ends cleanly
// instead of at once. One watch at a time.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace vantor::cli {

class SignalWatch {
  public:
    // `onSignal`, when given, runs from the Qt event loop with the signal's
    // number.
    explicit SignalWatch(std::function<void(int)> onSignal = {}, bool hangUp = false);
    ~SignalWatch();  // the default handling comes back
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The first signal that came, or 0; safe from any thread.
    static int received();
    // Readable once a signal has come, for poll() where no event loop runs.
    static int fd();

  private:
    void drain();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool hangUp_;
};

}  // namespace vantor::cli
