// The Win32 errors of a serial device, as the serial control's errors: the
// same numbers as on other systems for the same cause.
#pragma once

#include <vantor/errors.h>
#include <windows.h>

#include <string>

namespace vantor {

// The system's own text for `error`, without the closing full stop.
std::string systemText(DWORD error);

// Why CreateFileW refused `shown` (the name as given, and the real one):
// missing 8002, busy 8005 (a COM port is only ever refused for that), no
// permission 70, else 8002 with the system's text.
RuntimeError serialOpenError(DWORD error, const std::string& shown, bool comPort);

// A device that failed while open: 8020.
RuntimeError serialLostError(DWORD error, const std::string& shown);

}  // namespace vantor
