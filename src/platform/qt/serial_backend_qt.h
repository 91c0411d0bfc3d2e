// A serial port on QSerialPort: opened exclusively, raw, no flow control.
//
// A bare name is a file of the working directory if one exists there, else a
// device in /dev. Locks are taken on the real device behind any links, in the
// UUCP lock file QSerialPort also uses, so programs agree whatever name each
// was given; a live foreign lock refuses the port, a stale one is taken over.
//
// A paced line brings one byte at a time. The reader says how many bytes
// finish its frame (expect), and the line is made to report only once they
// are there (VMIN), so a download wakes once per frame. What the kernel holds
// for the reader is lost with a device that goes away, but under this rule
// that is never more than an unfinished frame. A tail shorter than asked for
// is taken once the line has been quiet for `kTail`.
//
// A host that runs many meters on one thread can choose a hold-off instead: after
// the first byte of a burst QSerialPort keeps a one-byte buffer and stops
// watching the line, and every `holdOff` the backend takes whatever has
// arrived in one read, until the line is quiet again. That costs a fraction
// of the wakeups, and risks the last `holdOff` of bytes if the device
// vanishes right after sending them.
#pragma once

#include <vantor/serial_backend.h>

#include <chrono>
#include <memory>

class QSerialPort;
class QTimer;

namespace vantor {

// Lives on the thread of the Qt event loop that delivers its notifications.
class QtSerialBackend : public SerialBackend {
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
    void readyRead();
    void holdOffOver();
    // The line's VMIN: it reports readable once this many bytes wait.
    void setMinimum(std::size_t bytes);
    // Moves what QSerialPort holds into buffer_; returns the bytes moved.
    std::size_t take();
    void notify();
    void markLost(const std::string& why);
    // Closes QSerialPort, which also removes its lock file, and lets other
    // backends of this process have the device.
    void release();

    std::unique_ptr<QSerialPort> port_;
    std::unique_ptr<QTimer> holdTimer_;
    std::unique_ptr<QTimer> tail_;
    std::chrono::milliseconds holdOff_;
    std::size_t minimum_ = 1;
    bool holding_ = false;
    Listener* listener_ = nullptr;
    std::string device_;  // as the user named it, for messages
    std::string real_;    // the device behind any links, while ours
    bool lost_ = false;   // the device went away; the port stays "open" until closed
    std::string buffer_;  // bytes taken from the line, not yet read
    std::size_t readPos_ = 0;
};

}  // namespace vantor
