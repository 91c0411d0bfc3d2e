// Run-time errors: the failure result every operation of the control reports.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vantor {

// Standard run-time error numbers used by the control and its platform.
enum ErrorNumber : std::int32_t {
    kErrInvalidCall = 5,
    kErrOverflow = 6,
    kErrSubscript = 9,
    kErrTypeMismatch = 13,
    kErrInvalidProperty = 380,
    kErrBadFileNumber = 52,
    kErrFileNotFound = 53,
    kErrFileAlreadyOpen = 55,
    kErrDiskFull = 61,
    kErrInputPastEnd = 62,
    kErrDeviceIo = 57,
    kErrTooManyFiles = 67,
    kErrPermissionDenied = 70,
    kErrPathFileAccess = 75,
    kErrPathNotFound = 76,
    // Serial control errors.
    kErrPortInvalid = 8002,
    kErrPortAlreadyOpen = 8005,
    kErrPortNotOpen = 8018,
    kErrCommRead = 8020,
};

// The standard description of an error number ("File not found", ...).
std::string standardDescription(std::int32_t number);

// An error carrying its run-time error number and a description text. The
// description is the standard one unless the raiser had something more precise
// to say (the serial layer names the device and the operating system's cause).
class RuntimeError : public std::runtime_error {
  public:
    explicit RuntimeError(std::int32_t number);
    RuntimeError(std::int32_t number, const std::string& description);

    std::int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

  private:
    std::int32_t number_;
    std::string description_;
};

// The run-time error for an errno value of a failed open, read or write of
// `path` (a file to read when `forInput`), its description naming the path:
// 53 or 76 missing, 70 no permission, 61 disk full, 75 the others.
RuntimeError fileError(int err, const std::string& path, bool forInput);

}  // namespace vantor
