// The serial ports of this machine, as a program that lists them for its
// user wants them. Library VantorComm::qt on Linux (pkg-config vantor-comm),
// VantorComm::win32 on Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

struct SerialPortEntry {
    std::string device;                      // /dev/ttyUSB0
    std::vector<std::string> stableNames;    // links to it under /dev/serial/by-id and by-path
    std::optional<std::uint16_t> vendorId;   // USB vendor, where known
    std::optional<std::uint16_t> productId;  // USB product
    std::string serialNumber;
    std::string manufacturer;
    std::string description;
    std::string driver;  // the kernel driver (ftdi_sio, cdc_acm, serial8250, ...)
    // Held by another process: by its lock file (a live owner), or open in it.
    bool busy = false;
    std::optional<long> busyPid;
    std::string busyBy;  // that process's name, and how it was found
};

// Every serial port the system has, by device name. On Linux it reads sysfs,
// /dev, the lock files and (with `openFiles`, which costs a walk over every
// process's open files) /proc, and opens no port; on Windows see
// <vantor/win32_platform.h>.
std::vector<SerialPortEntry> listSerialPorts(bool openFiles = true);

// True when `bytes` hold a whole meter frame (start byte, 14 bytes, CR):
// how a port a meter sends on is told from one with line noise.
bool holdsFrame(std::string_view bytes);

}  // namespace vantor
