// The errors of a serial device, with descriptions that name the device and
// the cause.
#pragma once

#include <vantor/errors.h>

#include <string>

namespace vantor {

enum class SerialFailure { Missing, PermissionDenied, Busy, Lost, Other };

// `device` is the name as the user gave it, followed by the real device in
// parentheses when that differs. `detail` is the operating system's own text,
// added when it says more.
RuntimeError serialError(SerialFailure kind, const std::string& device,
                         const std::string& detail = {});

}  // namespace vantor
