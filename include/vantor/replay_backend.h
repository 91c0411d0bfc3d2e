// A capture played back as a serial port, so that a download can be decoded
// again without the meter. Library VantorComm::qt (pkg-config vantor-comm).
#pragma once

#include <vantor/message_loop.h>
#include <vantor/serial_backend.h>

#include <memory>
#include <string>

namespace vantor {

// Once opened, the capture's bytes arrive through `loop` in large chunks,
// the next when the last has been taken; after the last byte the line
// reports that it has ended, as a device that went away would (error 62).
// Memory stays flat whatever the capture's size. `path` "-" plays standard
// input to its end; anything but a regular file is refused when the port
// is opened (75). The loop must outlive the backend.
std::unique_ptr<SerialBackend> replayBackend(MessageLoop& loop, std::string path);

}  // namespace vantor
