#include "platform/port_device.h"

namespace vantor {

std::string defaultPortDevice(Integer port) {
    // From COM10 up only this form opens; it serves the lower ports as well.
    return "\\\\.\\COM" + std::to_string(port);
}

}  // namespace vantor
