// A working control on this platform's real backends, in one line:
//
//     auto control = vantor::createControl();
//
// On Linux those are Qt's (<vantor/qt_platform.h> says what they need: a
// QCoreApplication and a Qt event loop on the calling thread); on Windows
// the Win32 ones (<vantor/win32_platform.h>: a thread that pumps messages).
// Library VantorComm::qt on Linux, VantorComm::win32 on Windows.
#pragma once

#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <memory>

namespace vantor {

// Whatever is left empty gets the real backend.
struct ControlOptions {
    std::shared_ptr<MessageLoop> loop;      // the calling thread's event loop
    std::shared_ptr<MessageSink> messages;  // the platform's message box (on Linux, standard error)
    std::shared_ptr<const DateSource> dates;  // the local date
    std::unique_ptr<SerialBackend> serial;    // the system's serial ports
};

// The control keeps what it is given alive as long as it lives. Throws
// RuntimeError 5 when the calling thread cannot run the platform's loop.
std::unique_ptr<Vantor_Comm> createControl(ControlOptions options = {});

}  // namespace vantor
