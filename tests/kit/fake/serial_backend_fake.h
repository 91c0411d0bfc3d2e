// A scripted serial port: tests choose how the bytes are grouped into reads
// and which failures the device shows.
#pragma once

#include <vantor/serial_backend.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_errors.h"

namespace vantor {

class FakeMessageLoop;

class FakeSerialBackend : public SerialBackend {
  public:
    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override { settings_ = settings; }
    void close() override;
    bool isOpen() const override { return open_; }
    std::size_t bytesAvailable() override { return buffer_.size(); }
    std::string read(std::size_t max) override;

    // The next open fails in this way.
    void failNextOpen(SerialFailure kind) { openFailure_ = kind; }
    // Bytes arrive as one group: one notification, one read takes them all.
    void arrive(const std::string& bytes);
    // The device goes away.
    void lose();
    // Schedules arrive() on the loop, `delayMs` after the previous scheduled
    // group (or after now, for the first).
    void scheduleArrival(FakeMessageLoop& loop, int delayMs, const std::string& bytes);

    const LineSettings& settings() const { return settings_; }
    const std::string& device() const { return device_; }
    int opens() const { return opens_; }
    int reads() const { return reads_; }

  private:
    Listener* listener_ = nullptr;
    bool open_ = false;
    std::string buffer_;
    LineSettings settings_;
    std::string device_;
    std::optional<SerialFailure> openFailure_;
    int opens_ = 0;
    int reads_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastScheduled_;
};

}  // namespace vantor
