#include "platform/serial_errors.h"

namespace vantor {

RuntimeError serialError(SerialFailure kind, const std::string& device, const std::string& detail) {
    std::string extra = detail.empty() ? "" : " (" + detail + ")";
    switch (kind) {
        case SerialFailure::Missing:
            return RuntimeError(kErrPortInvalid,
                                "No such serial device: " + device + extra +
                                    "; check the port number or device name, and that the "
                                    "serial adapter is plugged in");
        case SerialFailure::PermissionDenied:
            return RuntimeError(kErrPermissionDenied,
                                "Permission denied: " + device +
                                    " (the user needs read and write access, usually by "
                                    "membership of the dialout group)");
        case SerialFailure::Busy:
            return RuntimeError(
                kErrPortAlreadyOpen,
                "Port already open: " + device + " is busy, in use by another program" + extra);
        case SerialFailure::Lost:
            return RuntimeError(kErrCommRead, "Device lost: " + device +
                                                  " stopped working or was unplugged" + extra);
        case SerialFailure::Other:
            break;
    }
    return RuntimeError(kErrPortInvalid, "Cannot open serial device " + device + extra);
}

}  // namespace vantor
