#include "signal_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace vantor::cli {

namespace {

// The handler may only write(2); the event loop reads the other end.
int pipeFds[2] = {-1, -1};

void onSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
    struct sigaction sa {};
    sa.sa_handler = vantor::cli::onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

SignalWatch::~SignalWatch() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    notifier_.reset();
    for (int& fd : pipeFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void SignalWatch::drain() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        if (received_ == 0) received_ = byte;
        if (onSignal_) onSignal_(byte);
    }
}

}  // namespace vantor::cli
