// Message boxes on Windows: MessageBoxW owned by the host's window, or
// standard error for a console program.
#pragma once

#include <vantor/message_sink.h>
#include <windows.h>

namespace vantor {

class Win32MessageSink : public MessageSink {
  public:
    // `owner` is the host's window, or null.
    explicit Win32MessageSink(HWND owner = nullptr) : owner_(owner) {}
    void show(const std::string& text) override;

  private:
    HWND owner_;
};

}  // namespace vantor
