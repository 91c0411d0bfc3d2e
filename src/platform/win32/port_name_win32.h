// Serial device names on Windows.
#pragma once

#include <string>

namespace vantor {

struct Win32PortName {
    std::wstring path;     // what CreateFileW opens
    bool comPort = false;  // COMn, whose driver refuses a second handle
    std::string shown;     // the name as given, and the path when it differs
};

// COM12, com12 or \\.\COM12 as \\.\COM12 (from 10 up only that form opens);
// anything else as given.
Win32PortName win32PortName(const std::string& device);

// The name of the kernel object that marks the device as held by a serial
// backend, in this session; the same for every spelling of a COM port.
std::wstring portClaimName(const Win32PortName& name);

}  // namespace vantor
