// The Win32 backends, which createControl (<vantor/create_control.h>) takes
// on Windows: a message loop on the calling thread, the system's COM ports,
// message boxes and the local date. Library VantorComm::win32.
//
//     auto control = vantor::createControl();
//
// Threading: the control, its loop and its port live on the thread that
// created them, and that thread must pump its messages: a GUI host's own
// GetMessage/DispatchMessage loop does, and so does the control while it
// waits (ReadDataLogger, or a message box). A console host with no loop of
// its own calls waitForEvents on the loop it gave the control:
//
//     vantor::ControlOptions options;
//     options.loop = vantor::win32MessageLoop();
//     auto loop = options.loop;
//     auto control = vantor::createControl(std::move(options));
//     control->Start();
//     while (control->fgComPortOpen) loop->waitForEvents(std::chrono::seconds(1));
//
// A host that calls in only now and then (a script through an automation
// control) calls win32RunPending at the start of each call, so that what the
// port brought in the meantime is handled first.
#pragma once

#include <vantor/create_control.h>

#include <memory>

namespace vantor {

// Timers and posted calls on a message-only window of the calling thread.
// Its waitForEvents dispatches every message of the thread, the host's
// windows' too, as a modal loop does. Throws RuntimeError 5 when the thread
// cannot have a window.
std::shared_ptr<MessageLoop> win32MessageLoop();

// Runs the timers that are due and the port events that have come, now,
// without waiting and without dispatching the thread's other messages. Call
// it on the loop's thread, with a loop win32MessageLoop made (others are
// left alone).
void win32RunPending(MessageLoop& loop);

// A serial port: a port number N stands for \\.\COMN; a device name COM12,
// com12 or \\.\COM12 for \\.\COM12, and anything else is opened as given.
// Opened exclusively, raw, no flow control, DTR and RTS on. A thread of its
// own reads the line and hands the bytes to `loop`'s thread, where the
// control hears of them. `loop` must be one win32MessageLoop made: anything
// else is RuntimeError 5.
std::unique_ptr<SerialBackend> win32SerialBackend(const std::shared_ptr<MessageLoop>& loop);

// Message boxes (MessageBoxW, one OK button) owned by `ownerWindow`, an HWND
// of the host's. Without an owner, a console program's messages go to
// standard error, one line each, as do those of a program with no desktop
// (a service) and any a box could not show.
std::shared_ptr<MessageSink> win32MessageSink(void* ownerWindow = nullptr);

// listSerialPorts (<vantor/port_list.h>) on Windows lists the ports of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and of the Ports device class, with
// SetupAPI's friendly names and USB identifiers; `openFiles` has it open each
// port briefly, a refusal marking the port busy.

}  // namespace vantor
