#include "platform/port_device.h"

namespace vantor {

std::string defaultPortDevice(Integer port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace vantor
