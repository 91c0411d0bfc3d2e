// UUCP lock files (/var/lock/LCK..NAME), as QSerialPort and other serial
// programs take them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vantor {

// The lock of the device at `real`: below /dev with '/' as '_' (LCK..ttyUSB0,
// LCK..pts_3), the name QSerialPort gives it, so that both look at one file.
std::string lockPath(const std::string& real);

// The pid at the start of a lock file: text (uucp's "%10d\n", Qt's "%d\n")
// or, from some older programs, a native int.
std::optional<pid_t> lockOwner(std::string_view bytes);

}  // namespace vantor
