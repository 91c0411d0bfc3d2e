// Turns SIGINT and SIGTERM into a call from the Qt event loop, so that a
// download interrupted by the user ends like one that timed out.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace vantor::cli {

class SignalWatch {
  public:
    // `onSignal` runs from the event loop with the signal's number.
    explicit SignalWatch(std::function<void(int)> onSignal);
    ~SignalWatch();  // the default handling comes back
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The first signal that came, or 0.
    int received() const { return received_; }

  private:
    void drain();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace vantor::cli
