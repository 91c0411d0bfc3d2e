// A serial port on QSerialPort: opened exclusively, raw, no flow control.
//
// A bare name is a file of the working directory if one exists there, else a
// device in /dev. Locks are taken on the real device behind any links, in the
// UUCP lock file QSerialPort also uses, so programs agree whatever name each
// was given; a live foreign lock refuses the port, a stale one is taken over.
//
// A paced line brings one byte at a time, and the kernel wakes a reader at
// each. The reader says how many bytes finish its frame (expect); the line
// then leaves the thread's watch (LineWatch) for input until those bytes
// could have come at the line's speed, and is read then if they are all
// there: a download wakes about once a frame, and lines due together share a
// wakeup. A frame still arriving is looked at again once the rest could be
// there; a stalled one is watched (VMIN set to the frame), so that its last
// byte wakes the reader, who is given whole frames only. A line that brings
// far more than its speed allows (a pseudo-terminal written in bursts) is
// watched throughout for a while. Hang-ups are seen at once either way, and
// what the line still holds is read before the loss is reported. A tail
// shorter than asked for is taken once the line has been quiet for `kTail`.
//
// A host that runs many meters on one thread can choose a hold-off instead:
// after the first byte of a burst the line is not read for `holdOff`, and
// then everything that has arrived in one read, until the line is quiet
// again. That risks the last `holdOff` of bytes if the device vanishes right
// after sending them.
#pragma once

#include <vantor/serial_backend.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/qt/line_watch.h"

class QSerialPort;

namespace vantor {

// Lives on the thread of the Qt event loop that delivers its notifications.
class QtSerialBackend : public SerialBackend, private LineWatch::Line {
  public:
    explicit QtSerialBackend(std::chrono::milliseconds holdOff = std::chrono::milliseconds(0));
    ~QtSerialBackend() override;

    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    std::size_t bytesAvailable() override;
    std::string read(std::size_t max) override;
    void expect(std::size_t bytes) override;

  private:
    using Clock = LineWatch::Clock;
    void readable() override;
    void hungUp() override;
    void dueNow() override;
    // Reads what the line holds, `most` bytes at most, into buffer_; false
    // once the device is gone.
    bool drain(std::size_t& got, std::size_t most = SIZE_MAX);
    // Reads (as drain) and tells the listener.
    void take(std::size_t most);
    // Whether the line reports input now (as VMIN counts it); sees a hang-up too.
    bool ready();
    void watchInput(bool reading);
    void schedule();
    // The line's VMIN: it reports readable once this many bytes wait.
    void setMinimum(std::size_t bytes);
    void notify();
    void markLost(const std::string& why);
    // Closes QSerialPort, which also removes its lock file, and lets other
    // backends of this process have the device.
    void release();

    std::unique_ptr<QSerialPort> port_;
    std::shared_ptr<LineWatch> watch_;
    LineWatch::Handle handle_ = 0;
    int fd_ = -1;  // ours for reading; QSerialPort has the port write-only
    std::chrono::milliseconds holdOff_;
    std::chrono::nanoseconds byteTime_{};
    std::size_t minimum_ = 1;
    bool reading_ = true;  // in the watch's input interest
    bool holding_ = false;
    bool drained_ = false;  // the line held nothing more a moment ago
    int distrust_ = 0;      // frames to watch throughout before pacing again
    Clock::time_point wakeAt_ = Clock::time_point::max();
    Clock::time_point tailAt_ = Clock::time_point::max();
    Clock::time_point lastRead_{};  // when the line was last emptied
    std::size_t checked_ = 0;       // bytes of the awaited frame found at the last look
    Clock::time_point wholeAt_{};   // when the awaited frame can be whole at the soonest
    bool onTime_ = false;           // reading a frame found whole at its time
    Listener* listener_ = nullptr;
    std::string device_;  // as the user named it, for messages
    std::string real_;    // the device behind any links, while ours
    bool lost_ = false;   // the device went away; the port stays "open" until closed
    std::string buffer_;  // bytes taken from the line, not yet read
    std::size_t readPos_ = 0;
};

}  // namespace vantor
