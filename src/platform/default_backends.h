// The real backends of the platform a library is built for: each platform
// folder defines these, and createControl takes what the host left empty
// from them.
#pragma once

#include <vantor/date_source.h>
#include <vantor/message_loop.h>
#include <vantor/message_sink.h>
#include <vantor/serial_backend.h>

#include <memory>

namespace vantor {

std::shared_ptr<MessageLoop> defaultMessageLoop();
// A serial port whose notifications arrive through `loop`.
std::unique_ptr<SerialBackend> defaultSerialBackend(const std::shared_ptr<MessageLoop>& loop);
std::shared_ptr<MessageSink> defaultMessageSink();

}  // namespace vantor
