// download --device auto or GLOB: every matching port armed at once, and the
// first one a frame arrives on owns the transfer.
#pragma once

#include <vantor/message_loop.h>
#include <vantor/serial_backend.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor::ports {

// The devices `patterns` name: "auto" for every serial port no other
// program holds, else paths with wildcards (glob(3)), in order, each once.
// `quiet` leaves out the note on each port another program holds.
std::vector<std::string> portsMatching(const std::vector<std::string>& patterns,
                                       bool quiet = false);

// The serial port of a download that may look for its meter first: found()
// hands it the port the meter is on, open, with the bytes already read from
// it waiting first, so that the download starts from the meter's first byte.
// Opened on any other device, it is an ordinary port.
class FoundPort : public SerialBackend, private SerialBackend::Listener {
  public:
    explicit FoundPort(MessageLoop& loop) : loop_(loop) {}
    ~FoundPort() override;

    void found(std::unique_ptr<SerialBackend> port, std::string pending, std::string device);

    void setListener(SerialBackend::Listener* listener) override { listener_ = listener; }
    // Opening it again only sets the line.
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    std::size_t bytesAvailable() override;
    std::string read(std::size_t max) override;
    void expect(std::size_t bytes) override;

  private:
    void bytesArrived() override;
    void deviceLost(const RuntimeError& error) override;

    MessageLoop& loop_;
    std::unique_ptr<SerialBackend> port_;
    std::string pending_;
    std::string device_;
    SerialBackend::Listener* listener_ = nullptr;
    bool opened_ = false;  // by the control: till then it is not its port
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

// Opens every device and waits in `loop` until a frame arrives on one, which
// goes to `into` and whose name is returned; the others are closed at once.
// Devices that cannot be opened are said and left out. Nothing when none
// could be opened (`opened` false), `timeout` passed, or `stop` came true.
std::optional<std::string> findMeter(const std::vector<std::string>& devices, MessageLoop& loop,
                                     FoundPort& into,
                                     std::optional<std::chrono::milliseconds> timeout,
                                     const std::function<bool()>& stop, bool& opened);

}  // namespace vantor::ports
