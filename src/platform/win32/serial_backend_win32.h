// A serial port on the Win32 API: \\.\COMn opened exclusively, raw, no flow
// control, read by a thread of its own.
//
// The reader thread reads synchronously under timeouts that return what has
// come, or nothing after kReadWait of quiet, and hands the bytes to the
// loop's thread. Neither WaitCommEvent nor overlapped reads serve here: on a
// pseudo-terminal under Wine the first returns at once and the second waits
// for a full buffer. Modem lines are set through the DCB only; a line with
// none (a pseudo-terminal) is no error.
//
// A device that fails while open is lost: reads fail, or (a pseudo-terminal
// whose other end has gone, under Wine) the line's status can no longer be
// read. What came before stays readable.
//
// The port is also marked held with a named kernel object: where the driver
// does not refuse a second handle (Wine), a second backend is refused all the
// same.
#pragma once

#include <vantor/serial_backend.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/win32/message_loop_win32.h"

namespace vantor {

// Lives on the thread of its loop, where its listener hears from it.
class Win32SerialBackend : public SerialBackend {
  public:
    explicit Win32SerialBackend(std::shared_ptr<Win32MessageLoop> loop);
    ~Win32SerialBackend() override;
    Win32SerialBackend(const Win32SerialBackend&) = delete;
    Win32SerialBackend& operator=(const Win32SerialBackend&) = delete;

    void setListener(Listener* listener) override { listener_ = listener; }
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return lost_ || line_ != nullptr; }
    std::size_t bytesAvailable() override;
    std::string read(std::size_t max) override;
    void expect(std::size_t bytes) override;

  private:
    // What the reader thread shares with the loop's.
    struct Line {
        HANDLE port = INVALID_HANDLE_VALUE;
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> expected{1};
        std::mutex mutex;
        std::string inbox;
        bool notified = false;  // a notification is on its way to the loop
    };
    // Lets posted work tell a live backend from a gone one.
    struct Anchor {
        Win32SerialBackend* self;
    };

    static void readLoop(std::shared_ptr<Line> line, Win32MessageLoop* loop,
                         std::weak_ptr<Anchor> anchor);
    void delivered(const Line* line);
    void failed(const Line* line, DWORD error);
    void take();
    void release();

    std::shared_ptr<Win32MessageLoop> loop_;
    std::shared_ptr<Anchor> anchor_;
    std::shared_ptr<Line> line_;  // while open and not lost
    std::thread reader_;
    HANDLE claim_ = nullptr;
    Listener* listener_ = nullptr;
    std::string device_;  // as the user named it, for messages
    bool lost_ = false;   // the device went away; the port stays "open" until closed
    std::string buffer_;  // bytes taken from the reader, not yet read
    std::size_t readPos_ = 0;
};

}  // namespace vantor
