// The device a serial port number stands for when the host has named none:
// each platform folder defines it.
#pragma once

#include <vantor/types.h>

#include <string>

namespace vantor {

std::string defaultPortDevice(Integer port);

}  // namespace vantor
