// A trial serial backend for the many-meters measurement: the port's own file
// descriptor under a QSocketNotifier, with receive notifications coalesced.
// After a notification the line is not watched for `holdOff`; then whatever
// has arrived is taken in one read and notified at once, and the line is only
// watched again once it has gone quiet. A line that keeps sending wakes its
// reader once per hold-off instead of once per byte; the first byte after a
// pause is still notified without delay.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/serial_backend.h"

class QSocketNotifier;
class QTimer;

namespace vantor::bench {

class HoldOffSerialBackend : public SerialBackend {
  public:
    explicit HoldOffSerialBackend(std::chrono::milliseconds holdOff);
    ~HoldOffSerialBackend() override;

    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0 || lost_; }
    std::size_t bytesAvailable() override { return buffer_.size() - readPos_; }
    std::string read(std::size_t max) override;

  private:
    void readable();
    void holdOffOver();
    // Takes every waiting byte; false when the device failed or went away.
    bool drain(std::size_t& got);
    void notify();
    void dropNotifier();
    void markLost(const std::string& why);

    std::chrono::milliseconds holdOff_;
    int fd_ = -1;
    std::string device_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> timer_;
    std::string buffer_;
    std::size_t readPos_ = 0;
    bool lost_ = false;
    Listener* listener_ = nullptr;
};

}  // namespace vantor::bench
