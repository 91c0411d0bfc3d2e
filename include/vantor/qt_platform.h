// Qt's backends, which createControl (<vantor/create_control.h>) takes on
// Linux: the event loop of the calling thread, the system's serial ports
// through QSerialPort, message boxes on standard error and the local date.
// Library VantorComm::qt (pkg-config vantor-comm).
//
//     QCoreApplication app(argc, argv);
//     auto control = vantor::createControl();
//
// createControl needs a QCoreApplication, and must be called on a thread
// that runs a Qt event loop (the application's own, or a QThread's); without
// one it throws RuntimeError 5 saying so.
#pragma once

#include <vantor/create_control.h>

#include <chrono>
#include <memory>

namespace vantor {

// The message loop of Qt's event dispatcher on the calling thread. Same
// requirement and error as createControl.
std::shared_ptr<MessageLoop> qtMessageLoop();

// A serial port on QSerialPort, opened exclusively and raw, with the UUCP
// lock file other programs honour. A bare device name means /dev/NAME unless
// the working folder has that file. `holdOff` above zero collects a paced
// line's bytes for that long before each read: fewer wakeups for a host that
// runs many meters on one thread, at the risk of the last `holdOff` of bytes
// if the device vanishes right after them.
// Same requirement and error as createControl.
std::unique_ptr<SerialBackend> qtSerialBackend(
    std::chrono::milliseconds holdOff = std::chrono::milliseconds(0));

}  // namespace vantor
