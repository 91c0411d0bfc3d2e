#include <vantor/errors.h>

namespace vantor {

std::string standardDescription(std::int32_t number) {
    switch (number) {
        case kErrInvalidCall:
            return "Invalid procedure call or argument";
        case kErrOverflow:
            return "Overflow";
        case kErrSubscript:
            return "Subscript out of range";
        case kErrTypeMismatch:
            return "Type mismatch";
        case kErrInvalidProperty:
            return "Invalid property value";
        case kErrBadFileNumber:
            return "Bad file name or number";
        case kErrFileNotFound:
            return "File not found";
        case kErrFileAlreadyOpen:
            return "File already open";
        case kErrDiskFull:
            return "Disk full";
        case kErrInputPastEnd:
            return "Input past end of file";
        case kErrTooManyFiles:
            return "Too many files";
        case kErrPermissionDenied:
            return "Permission denied";
        case kErrPathFileAccess:
            return "Path/File access error";
        case kErrPathNotFound:
            return "Path not found";
        case kErrPortInvalid:
            return "Invalid port number";
        case kErrPortAlreadyOpen:
            return "Port already open";
        case kErrPortNotOpen:
            return "Operation valid only when the port is open";
        case kErrDeviceIo:
            return "Device I/O error";
        case kErrCommRead:
            return "Error reading comm device";
        default:
            return "Application-defined or object-defined error";
    }
}

RuntimeError::RuntimeError(std::int32_t number)
    : RuntimeError(number, standardDescription(number)) {}

RuntimeError::RuntimeError(std::int32_t number, const std::string& description)
    : std::runtime_error("error " + std::to_string(number) + ": " + description),
      number_(number),
      description_(description) {}

}  // namespace vantor
