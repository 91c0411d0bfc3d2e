// The lines of one thread in one epoll set behind one QSocketNotifier, with
// one timer for all of them.
//
// A pseudo-terminal wakes its poller for every byte it queues, and poll()
// walks every descriptor of the thread at each wakeup. Here a line that is
// not being read costs nothing: it leaves the set's input interest until its
// due time, while a hang-up or an error is still reported at once (epoll
// always watches those).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace vantor {

class LineWatch : public std::enable_shared_from_this<LineWatch> {
  public:
    using Clock = std::chrono::steady_clock;

    class Line {
      public:
        virtual ~Line() = default;
        // Input waits (as the line's VMIN counts it).
        virtual void readable() = 0;
        // The device hung up or failed.
        virtual void hungUp() = 0;
        // The time given to due() has come.
        virtual void dueNow() = 0;
    };
    using Handle = std::uint32_t;

    // The watch of the calling thread, made on first use and gone with its
    // last line.
    static std::shared_ptr<LineWatch> forThisThread();

    LineWatch();
    ~LineWatch();
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    // Watches `fd` for input; `fd` stays the caller's: remove it before
    // closing it.
    Handle add(Line* line, int fd);
    void remove(Handle line);
    // Whether input wakes the line; hang-ups do either way.
    void setReading(Handle line, bool reading);
    // dueNow() once `at` has come (Clock::time_point::max(): never).
    void due(Handle line, Clock::time_point at);

  private:
    struct Slot {
        Line* line = nullptr;  // none: free
        std::uint32_t generation = 0;
        int fd = -1;
        bool reading = false;
        Clock::time_point due = Clock::time_point::max();
    };
    void dispatch();
    void runDue();
    void arm(Clock::time_point at);

    int epoll_ = -1;
    int timer_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<Slot> slots_;
    Clock::time_point armed_ = Clock::time_point::max();
    bool running_ = false;
};

}  // namespace vantor
