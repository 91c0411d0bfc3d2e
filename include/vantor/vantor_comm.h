// Vantor_Comm: the control a host program embeds to download the readings a
// hand-held meter has logged.
//
// Creating one. On the real backends (Qt's event loop, QSerialPort, message
// boxes on standard error, the local date) in one line, with
// <vantor/qt_platform.h>:
//
//     auto control = vantor::createControl();
//
// A QCoreApplication (or QApplication) must exist on the calling thread
// first; createControl throws error 5 when there is none. Any backend can be
// replaced there (ControlOptions), or all of them given through
// ControlPlatform (<vantor/backends.h>) to the constructor below. A widgets
// program that wants its message boxes as dialogs uses VantorCommWidget
// (<vantor/vantor_comm_widget.h>) or passes vantor::messageBoxes() as
// ControlOptions::messages.
//
// Threading: everything runs on the thread that created the control and owns
// its MessageLoop. Receive events of the serial port and the blink timer's
// ticks run from that loop, between the host's calls or while an operation
// waits in the loop (ReadDataLogger, or a message box); no method may be
// called from another thread. From inside the control's own callbacks
// (onTransferEnded, onBytesRead, a message box) a host may read fields and
// poll, and may call AbortTransfer; it must not start another transfer there.
//
// Ownership: the control owns its parts (its serial port, the panel, its file
// table and data grid) for its whole life. A host that lends the loop, the
// message sink or the date source keeps them alive longer than the control.
//
// Failures. Operations either throw RuntimeError (number() and
// description()) or handle their own errors by showing the description
// through the MessageSink and returning normally:
//
//   operation          on failure       error numbers
//   -----------------  ---------------  ------------------------------------
//   CheckFile          never fails
//   ViewData           throws           9 datano below 1; 53, 76 the data
//                                       file; 75 not a regular file, or an
//                                       item over 64 KiB; 62 fewer records
//                                       than datano; 13, 6 a channel that is
//                                       no Integer
//   ReadDataLogger     message box      52, 53, 55, 61, 70, 75, 76 the data
//                                       file; 8002, 8005 and 70 the port;
//                                       57 the meter went silent (ReadTimeout);
//                                       8020 the device was lost
//   ReadDataLogger_2   message box      the data file's and the port's, as
//                                       ReadDataLogger; 70 when another
//                                       download writes the data file
//   SCI_Init, Start    message box      the port's, as ReadDataLogger
//   receive events     message box      61 and the file's write errors (once
//                                       per transfer); 8020 device lost;
//                                       75 at the end when the data file was
//                                       removed, replaced or changed by
//                                       another program (its records count
//                                       as lost: Stats().recordsLost, and
//                                       the outcome is Failed)
//   GetParameter       throws           9 iParameter lacks one of 0..5
//   ReadUnitFile       throws           53, 76 (df is set all the same);
//                                       75 not a regular file, or over 1 MB;
//                                       9 more than 301 lines; 62 odd items
//   the rest           never fail
//
// Every description names the file or device and the cause.
#pragma once

#include <vantor/control_fields.h>
#include <vantor/data_grid.h>
#include <vantor/errors.h>
#include <vantor/port_map.h>
#include <vantor/transfer_stats.h>
#include <vantor/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

// The backends a control runs on: <vantor/backends.h>, for a host that
// brings its own. createControl (<vantor/qt_platform.h>) brings Qt's.
struct ControlPlatform;
// The panel's model, for a view that draws it: <vantor/status_panel.h>.
struct StatusPanel;
struct ControlParts;

class Vantor_Comm : public ControlPublic {
  public:
    explicit Vantor_Comm(ControlPlatform platform);
    ~Vantor_Comm();
    Vantor_Comm(const Vantor_Comm&) = delete;
    Vantor_Comm& operator=(const Vantor_Comm&) = delete;

    // The operations of the interface, in the order of its slots.

    // Sets YesNo to True. It examines nothing.
    void CheckFile(Boolean& YesNo);

    // Reads the first datano records of df and lays them out in Grid().
    // Throws; the grid is untouched on error.
    void ViewData();

    // A whole download in one call: opens the port and df itself, reads the
    // stream byte by byte (waiting in the message loop, so timers and other
    // events keep running), decodes every frame, and shows "Data Received
    // O.K!" at the end. Failures, a silent meter (ReadTimeout) and a lost
    // device are shown in a message box; the port and data file this call
    // opened are released, with every record written so far kept.
    // fgTransferOK is False from the start of the call until it succeeds.
    void ReadDataLogger();

    // Opens df for output as file number 2, clears the transfer counters and
    // runs SCI_Init; once the port is open the data file is emptied. When the
    // port could not be opened, the data file is left as it was (a file that
    // did not exist is not left behind) and fgComPortOpen stays False:
    // nothing is armed. A data file another download writes is refused.
    void ReadDataLogger_2();

    // Opens the serial port Port at 9600,N,8,1 and resets the receiver to
    // hunting. Failures are shown in a message box; it always returns.
    void SCI_Init();
    // Stored and returned only; the line is always 9600,N,8,1.
    void Settings(const String& sSettings);
    String Settings() const;
    // The serial port number used at the next transfer start.
    void Port(const Integer& iPort);
    Integer Port() const;
    // Stored and returned only.
    void Baudrate(const Integer& iBaudRate);
    Integer Baudrate() const;
    // Folder of the unit file and of the dated data file (write-only).
    void AppPath(const String& unitfilepath);

    // Sets FrameCount to the frames received by the event-driven receiver;
    // returns 1 once the transfer has ended, otherwise 0.
    Integer Read_Status(Long& FrameCount);
    // Copies the six-element parameter block into iParameter(0..5) and
    // returns 0. Elements copied before an error stay copied.
    Integer GetParameter(VbArray<Integer>& iParameter);
    // Arms an event-driven download: panel to "Press Send Key to Transfer
    // Data", then ReadDataLogger_2. Always returns 0.
    Integer Start();
    // Sets filename to df and idatano to datano.
    void GetFilename(Long& idatano, String& filename);

    // Loads the unit names from AppPath/unit2.dat and sets df to
    // AppPath/yyyymmdd.dat (today).
    void ReadUnitFile();

    // The control's own event handler: the host gives it a new size (also
    // when first shown).
    void UserControl_Resize();

    // --- Additions for hosts on this platform ---

    // Ends an armed event-driven transfer, or a blocking one from inside
    // its wait, without the end marker: every record written so far stays
    // in the data file, which is closed, and the port is closed.
    // fgTransferOK stays False.
    void AbortTransfer(TransferOutcome why = TransferOutcome::Aborted);
    TransferOutcome LastTransferOutcome() const;
    // The error the last transfer start, download or port opening showed in
    // its message box, with its number; empty when it showed none. Cleared
    // when ReadDataLogger, Start or ReadDataLogger_2 begins.
    const std::optional<RuntimeError>& LastError() const;
    // Diagnostics of the running or last transfer.
    const TransferStats& Stats() const;
    // Called when a transfer ends, whichever way (from inside an event).
    std::function<void()> onTransferEnded;
    // Called with every read from the port, before the bytes are decoded.
    std::function<void(std::string_view)> onBytesRead;
    // Called with every record written to the data file, in order (from
    // inside an event, or inside ReadDataLogger's wait).
    std::function<void(const RecordWritten&)> onRecordWritten;
    // Port numbers to device names, for this control's serial port.
    PortMap& Ports();
    // The device the current Port stands for.
    std::string DeviceName() const;
    // The grid ViewData fills.
    DataGrid& Grid();
    const DataGrid& Grid() const;
    // How long ReadDataLogger waits for the next byte before it gives up
    // with error 57; zero waits for ever. Default 60 s.
    void setReadTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds readTimeout() const;
    // Once the meter has sent something, a silence this long ends the
    // transfer (either kind) with the outcome Idle, every record kept and no
    // message box; zero (the default) waits for ever.
    void setIdleTimeout(std::chrono::milliseconds silence);
    std::chrono::milliseconds idleTimeout() const;
    // The longest a transfer may run from its start (Start, ReadDataLogger_2
    // or ReadDataLogger) before it ends with the outcome TimedOut, every
    // record kept and no message box; zero (the default): no limit.
    void setTransferTimeout(std::chrono::milliseconds limit);
    std::chrono::milliseconds transferTimeout() const;

    // The panel the host's views show.
    StatusPanel& Panel();
    const StatusPanel& Panel() const;

  private:
    void Timer1_Timer();
    void StartTransfer();
    void MSComm1_OnComm();
    void DispatchFrame();
    void DecodeFrame();

    friend struct ControlParts;
    std::unique_ptr<ControlParts> d_;
};

}  // namespace vantor
