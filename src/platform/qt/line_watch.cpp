#include "platform/qt/line_watch.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vantor {

namespace {

// Lines due this soon are served with the one due now: one wakeup for
// several lines, each at most this much early, which costs nothing but a
// byte's worth of watching.
constexpr std::chrono::microseconds kSlack(250);

// Lines are told apart in the set by slot and generation; the timer's key is
// one no line has (generation 0).
constexpr std::uint64_t kTimerKey = 0;

std::uint64_t key(std::uint32_t slot, std::uint32_t generation) {
    return static_cast<std::uint64_t>(generation) << 32 | slot;
}

thread_local std::weak_ptr<LineWatch> current;

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

std::shared_ptr<LineWatch> LineWatch::forThisThread() {
    auto watch = current.lock();
    if (!watch) {
        watch = std::make_shared<LineWatch>();
        current = watch;
    }
    return watch;
}

LineWatch::LineWatch() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) fail("epoll_create1");
    timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0) {
        ::close(epoll_);
        fail("timerfd_create");
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kTimerKey;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, timer_, &ev);
    notifier_ = std::make_unique<QSocketNotifier>(epoll_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { dispatch(); });
}

LineWatch::~LineWatch() {
    // This may run inside the notifier's own signal (its last line closed
    // from a handler): Qt deletes it once that has returned.
    notifier_->setEnabled(false);
    notifier_.release()->deleteLater();
    ::close(timer_);
    ::close(epoll_);
}

LineWatch::Handle LineWatch::add(Line* line, int fd) {
    Handle h = 0;
    while (h < slots_.size() && slots_[h].line != nullptr) ++h;
    if (h == slots_.size()) slots_.emplace_back();
    Slot& slot = slots_[h];
    ++slot.generation;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = key(h, slot.generation);
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) fail("epoll_ctl");
    slot.line = line;
    slot.fd = fd;
    slot.reading = true;
    slot.due = Clock::time_point::max();
    return h;
}

void LineWatch::remove(Handle h) {
    Slot& slot = slots_.at(h);
    if (slot.line == nullptr) return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, slot.fd, nullptr);
    slot.line = nullptr;
    slot.fd = -1;
    slot.due = Clock::time_point::max();
}

void LineWatch::setReading(Handle h, bool reading) {
    Slot& slot = slots_.at(h);
    if (slot.line == nullptr || slot.reading == reading) return;
    epoll_event ev{};
    ev.events = reading ? static_cast<std::uint32_t>(EPOLLIN) : 0u;
    ev.data.u64 = key(h, slot.generation);
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, slot.fd, &ev) == 0) slot.reading = reading;
}

void LineWatch::due(Handle h, Clock::time_point at) {
    Slot& slot = slots_.at(h);
    if (slot.line == nullptr) return;
    slot.due = at;
    // While due lines run, the timer is set once they are done.
    if (at < armed_ && !running_) arm(at);
}

void LineWatch::dispatch() {
    // A handler may close the last line, which ends this watch.
    const auto keep = shared_from_this();
    epoll_event events[64];
    const int n = ::epoll_wait(epoll_, events, 64, 0);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t k = events[i].data.u64;
        if (k == kTimerKey) {
            std::uint64_t ticks = 0;
            [[maybe_unused]] ssize_t got = ::read(timer_, &ticks, sizeof ticks);
            continue;
        }
        // An earlier line's handler may have closed this one, or its slot
        // gone to another line since.
        const Handle h = static_cast<Handle>(k & 0xffffffffu);
        if (h >= slots_.size() || slots_[h].line == nullptr || key(h, slots_[h].generation) != k) {
            continue;
        }
        Line* line = slots_[h].line;
        if (events[i].events & (EPOLLHUP | EPOLLERR)) {
            line->hungUp();
        } else if (events[i].events & EPOLLIN) {
            line->readable();
        }
    }
    runDue();
}

void LineWatch::runDue() {
    const auto now = Clock::now();
    // A timer set later than needed, or for a line gone, merely fires for
    // nothing; once it has fired the next one is set here.
    if (armed_ <= now) armed_ = Clock::time_point::max();
    const auto until = now + kSlack;
    running_ = true;
    // By index: a handler may add lines (and grow the vector) or remove them.
    for (Handle h = 0; h < slots_.size(); ++h) {
        if (slots_[h].line == nullptr || slots_[h].due > until) continue;
        slots_[h].due = Clock::time_point::max();
        slots_[h].line->dueNow();
    }
    running_ = false;
    auto earliest = Clock::time_point::max();
    for (const Slot& slot : slots_) earliest = std::min(earliest, slot.due);
    if (earliest < armed_) arm(earliest);
}

void LineWatch::arm(Clock::time_point at) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    // Zero would disarm the timer.
    when.it_value.tv_nsec = std::max(1L, static_cast<long>(ns % 1'000'000'000));
    if (::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr) == 0) armed_ = at;
}

}  // namespace vantor
