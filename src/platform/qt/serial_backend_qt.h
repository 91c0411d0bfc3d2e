// A serial port on QSerialPort: opened exclusively, raw, no flow control.
//
// A paced line brings one byte at a time; waking for each would cost more
// than everything else a download does. After the first byte of a burst the
// backend lets QSerialPort fill a one-byte buffer and stop watching the line,
// and every `holdOff` takes whatever has arrived in one read, until the line
// is quiet again. The first byte after a pause is still reported at once.
#pragma once

#include <chrono>
#include <memory>

#include "platform/serial_backend.h"

class QSerialPort;
class QTimer;

namespace vantor {

// Lives on the thread of the Qt event loop that delivers its notifications.
class QtSerialBackend : public SerialBackend {
  public:
    static constexpr std::chrono::milliseconds kHoldOff{20};

    explicit QtSerialBackend(std::chrono::milliseconds holdOff = kHoldOff);
    ~QtSerialBackend() override;

    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    std::size_t bytesAvailable() override;
    std::string read(std::size_t max) override;

  private:
    void readyRead();
    void holdOffOver();
    // Moves what QSerialPort holds into buffer_; returns the bytes moved.
    std::size_t take();
    void notify();
    void markLost(const std::string& why);

    std::unique_ptr<QSerialPort> port_;
    std::unique_ptr<QTimer> holdTimer_;
    std::chrono::milliseconds holdOff_;
    bool holding_ = false;
    Listener* listener_ = nullptr;
    std::string device_;
    bool lost_ = false;   // the device went away; the port stays "open" until closed
    std::string buffer_;  // bytes taken from the line, not yet read
    std::size_t readPos_ = 0;
};

}  // namespace vantor
