#include <vantor/win32_platform.h>

#include "platform/default_backends.h"
#include "platform/win32/message_loop_win32.h"
#include "platform/win32/message_sink_win32.h"
#include "platform/win32/serial_backend_win32.h"

namespace vantor {

std::shared_ptr<MessageLoop> win32MessageLoop() {
    return std::make_shared<Win32MessageLoop>();
}

void win32RunPending(MessageLoop& loop) {
    if (auto* win32 = dynamic_cast<Win32MessageLoop*>(&loop)) win32->runPending();
}

std::unique_ptr<SerialBackend> win32SerialBackend(const std::shared_ptr<MessageLoop>& loop) {
    auto win32 = std::dynamic_pointer_cast<Win32MessageLoop>(loop);
    if (!win32) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the Win32 serial port hands its "
                           "bytes over through the Win32 message loop; give the control "
                           "win32MessageLoop(), or a serial backend of your own");
    }
    return std::make_unique<Win32SerialBackend>(std::move(win32));
}

std::shared_ptr<MessageSink> win32MessageSink(void* ownerWindow) {
    return std::make_shared<Win32MessageSink>(static_cast<HWND>(ownerWindow));
}

std::shared_ptr<MessageLoop> defaultMessageLoop() {
    return win32MessageLoop();
}

std::unique_ptr<SerialBackend> defaultSerialBackend(const std::shared_ptr<MessageLoop>& loop) {
    return win32SerialBackend(loop);
}

std::shared_ptr<MessageSink> defaultMessageSink() {
    return win32MessageSink();
}

}  // namespace vantor
