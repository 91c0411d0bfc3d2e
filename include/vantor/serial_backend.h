// What the serial control needs from an operating system's serial port.
#pragma once

#include <vantor/errors.h>

#include <cstddef>
#include <string>

namespace vantor {

// Line parameters of an open port.
struct LineSettings {
    int baud = 9600;
    char parity = 'N';  // N, E, O, M or S
    int dataBits = 8;   // 5 to 8
    int stopBits = 10;  // in tenths: 10, 15 or 20
};

class SerialBackend {
  public:
    // Notifications from the backend; they arrive from the message loop,
    // on the control's thread.
    class Listener {
      public:
        virtual ~Listener() = default;
        // New bytes are waiting.
        virtual void bytesArrived() = 0;
        // The device failed or went away while open; the port is unusable.
        virtual void deviceLost(const RuntimeError& error) = 0;
    };

    virtual ~SerialBackend() = default;
    virtual void setListener(Listener* listener) = 0;

    // Opens `device` exclusively, raw (no character translation, no flow
    // control), with `settings`. Throws RuntimeError naming the device and
    // the cause: missing device, permission denied, busy, ...
    virtual void open(const std::string& device, const LineSettings& settings) = 0;
    virtual void configure(const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual std::size_t bytesAvailable() = 0;
    // Removes and returns up to `max` waiting bytes, in order of arrival.
    virtual std::string read(std::size_t max) = 0;
    // The reader can do nothing with fewer than `bytes` new bytes (the rest
    // of a frame). A backend may wait for them before it reports, so that a
    // paced line costs a wakeup per frame rather than per byte; it still
    // reports a shorter tail once the line has been quiet for a moment.
    // Every opening starts at 1.
    virtual void expect(std::size_t bytes) { (void)bytes; }
};

}  // namespace vantor
