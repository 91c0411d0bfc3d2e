#include "signal_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace vantor::cli {

namespace {

// The handler may only store a lock-free atomic and write(2); the rest runs
// outside it.
int pipeFds[2] = {-1, -1};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "stored in a signal handler");

void onSignal(int signal) {
    const int saved = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void handle(int signal, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(signal, &sa, nullptr);
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignal, bool hangUp)
    : onSignal_(std::move(onSignal)), hangUp_(hangUp) {
    firstSignal = 0;
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    if (onSignal_) {
        notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    handle(SIGINT, vantor::cli::onSignal);
    handle(SIGTERM, vantor::cli::onSignal);
    if (hangUp_) handle(SIGHUP, vantor::cli::onSignal);
}

SignalWatch::~SignalWatch() {
    handle(SIGINT, SIG_DFL);
    handle(SIGTERM, SIG_DFL);
    if (hangUp_) handle(SIGHUP, SIG_DFL);
    notifier_.reset();
    for (int& fd : pipeFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

int SignalWatch::received() {
    return firstSignal;
}

int SignalWatch::fd() {
    return pipeFds[0];
}

void SignalWatch::drain() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) onSignal_(byte);
}

}  // namespace vantor::cli
