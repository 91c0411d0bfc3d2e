// The errors of a serial device, with descriptions that name the device and
// the cause.
#pragma once

#include <string>

#include "platform/errors.h"

namespace vantor {

enum class SerialFailure { Missing, PermissionDenied, Busy, Lost, Other };

// `detail` is the operating system's own text, added when it says more.
RuntimeError serialError(SerialFailure kind, const std::string& device,
                         const std::string& detail = {});

}  // namespace vantor
