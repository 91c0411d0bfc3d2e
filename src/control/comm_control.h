// The serial communications control: port number, line settings, input
// buffer and receive events over a SerialBackend.
#pragma once

#include <vantor/port_map.h>
#include <vantor/serial_backend.h>
#include <vantor/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace vantor {

// Parses "baud,parity,data,stop" (for instance "9600,N,8,1"); error 380 when
// the text is malformed.
LineSettings parseLineSettings(const std::string& text);

class CommControl : private SerialBackend::Listener {
  public:
    // CommEvent values.
    static constexpr Integer comEvReceive = 2;
    // The device went away or failed while the port was open.
    static constexpr Integer comEvDeviceLost = 1100;
    static constexpr Integer comInputModeBinary = 1;

    explicit CommControl(std::unique_ptr<SerialBackend> backend);
    ~CommControl() override;

    Integer CommPort() const { return commPort_; }
    // Error 8002 for a number below 1. May be written while open; it is used
    // at the next opening.
    void setCommPort(Integer port);
    const std::string& Settings() const { return settings_; }
    void setSettings(const std::string& settings);
    // Input() hands over the bytes as they came, so binary (1) is the only
    // mode there is; error 380 for any other, text (0) included.
    Integer InputMode() const { return comInputModeBinary; }
    void setInputMode(Integer mode);
    Integer InputLen() const { return inputLen_; }
    void setInputLen(Integer len);
    Integer RThreshold() const { return rThreshold_; }
    void setRThreshold(Integer threshold);
    Boolean PortOpen() const { return backend_->isOpen() ? VbTrue : VbFalse; }
    // True opens the port with the current settings (8005 when already open);
    // False closes it.
    void setPortOpen(Boolean open);
    Integer CommEvent() const { return commEvent_; }
    // Removes and returns the waiting bytes (all of them, or at most InputLen).
    std::string Input();
    Long InBufferCount();
    // Passed to the backend: receive events are of no use before `bytes`
    // more have come.
    void expect(std::size_t bytes) {
        if (backend_->isOpen()) backend_->expect(bytes);
    }

    // The device name the current CommPort stands for.
    std::string deviceName() const { return ports.device(commPort_); }
    // Why the device was lost, after a comEvDeviceLost event.
    const std::string& lostReason() const { return lostReason_; }

    // Receive and line events, raised from the message loop one at a time.
    std::function<void()> OnComm;
    PortMap ports;

  private:
    void bytesArrived() override;
    void deviceLost(const RuntimeError& error) override;
    void requireOpen() const;
    void raise(Integer event);

    std::unique_ptr<SerialBackend> backend_;
    Integer commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    LineSettings line_;
    Integer inputLen_ = 0;
    Integer rThreshold_ = 0;
    Integer commEvent_ = 0;
    std::string lostReason_;
    bool inEvent_ = false;
    bool eventPending_ = false;
};

}  // namespace vantor
