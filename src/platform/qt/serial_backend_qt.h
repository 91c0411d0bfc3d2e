// A serial port on QSerialPort: opened exclusively, raw, no flow control.
#pragma once

#include <memory>

#include "platform/serial_backend.h"

class QSerialPort;

namespace vantor {

// Lives on the thread of the Qt event loop that delivers its notifications.
class QtSerialBackend : public SerialBackend {
  public:
    QtSerialBackend();
    ~QtSerialBackend() override;

    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    std::size_t bytesAvailable() override;
    std::string read(std::size_t max) override;

  private:
    void markLost(const std::string& why);

    std::unique_ptr<QSerialPort> port_;
    Listener* listener_ = nullptr;
    std::string device_;
    bool lost_ = false;       // the device went away; the port stays "open" until closed
    std::string lostBuffer_;  // bytes that had arrived before the loss
};

}  // namespace vantor
