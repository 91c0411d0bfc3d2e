// What a host needs to run a control on backends of its own: the message
// loop, the message boxes, the date and the serial port. A host on Qt's
// takes them from createControl (<vantor/qt_platform.h>) instead.
#pragma once

#include <vantor/date_source.h>
#include <vantor/message_loop.h>
#include <vantor/message_sink.h>
#include <vantor/serial_backend.h>
#include <vantor/vantor_comm.h>

#include <memory>

namespace vantor {

// What the host supplies to a control (Vantor_Comm's constructor).
struct ControlPlatform {
    MessageLoop& loop;
    MessageSink& messages;
    const DateSource& dates;
    std::unique_ptr<SerialBackend> serial;
    // Kept alive until the control has gone; for a host that hands the
    // control what loop, messages and dates live in.
    std::shared_ptr<void> keepAlive = nullptr;
};

}  // namespace vantor
