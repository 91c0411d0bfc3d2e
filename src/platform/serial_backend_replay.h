// A serial port that plays back a capture: once opened, every byte of the
// capture is waiting at once (one read takes it all); after that the line
// reports that the capture has ended, as a device that went away would.
#pragma once

#include <memory>
#include <string>

#include "platform/message_loop.h"
#include "platform/serial_backend.h"

namespace vantor {

class ReplaySerialBackend : public SerialBackend {
public:
    // `name` appears in the end-of-capture message.
    ReplaySerialBackend(MessageLoop& loop, std::string capture, std::string name);
    ~ReplaySerialBackend() override;

    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings&) override {}
    void close() override;
    bool isOpen() const override { return open_; }
    std::size_t bytesAvailable() override { return buffer_.size() - readPos_; }
    std::string read(std::size_t max) override;

private:
    MessageLoop& loop_;
    std::string capture_;
    std::string name_;
    std::string buffer_;
    std::size_t readPos_ = 0;
    bool open_ = false;
    Listener* listener_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantor
