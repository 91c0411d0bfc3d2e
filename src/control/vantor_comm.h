// Vantor_Comm: the control a host program embeds to download the readings a
// hand-held meter has logged.
//
// Threading: everything runs on the thread that created the control and owns
// its MessageLoop. Receive events of the serial port and the blink timer's
// ticks run from that loop, between the host's calls or while an operation
// waits in the loop (ReadDataLogger, or a message box); none of the control's
// members needs a lock, and no method may be called from another thread.
// From inside the control's own callbacks (onTransferEnded, onBytesRead, a
// message box) a host may read fields and poll, and may call AbortTransfer;
// it must not start another transfer there.
//
// Ownership: the control owns its constituent parts (the serial control
// MSComm1, the panel, its file table and data grid) for its whole life. The
// host keeps the MessageLoop, MessageSink and DateSource alive longer than
// the control.
//
// Failures: operations report failure by throwing RuntimeError (error number
// and description). The operations that handle their own errors show the
// description through the MessageSink instead and return normally.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "control/interface_ids.h"
#include "control/status_panel.h"
#include "control/transfer_session.h"
#include "platform/comm_control.h"
#include "platform/data_grid.h"
#include "platform/date_source.h"
#include "platform/message_loop.h"
#include "platform/message_sink.h"
#include "platform/serial_backend.h"
#include "platform/textfile/file_table.h"
#include "platform/types.h"
#include "record/control_record.h"
#include "record/transfer_stats.h"

namespace vantor {

// What the host supplies to a control.
struct ControlPlatform {
    MessageLoop& loop;
    MessageSink& messages;
    const DateSource& dates;
    std::unique_ptr<SerialBackend> serial;
};

class Vantor_Comm : public ControlPublic {
  public:
    explicit Vantor_Comm(ControlPlatform platform);
    ~Vantor_Comm();
    Vantor_Comm(const Vantor_Comm&) = delete;
    Vantor_Comm& operator=(const Vantor_Comm&) = delete;

    // The public fields df, UnitIndex, fgTransferOK, fgComPortOpen, datano,
    // fg_Two_Display and bReadDataOK are members of ControlPublic: the host
    // reads and writes them directly.

    // The operations of the interface, in the order of its slots.

    // Sets YesNo to True. It examines nothing.
    void CheckFile(Boolean& YesNo);

    // Reads the first datano records of df and lays them out in Grid().
    // Errors: 9 (datano below 1), 53 or 76, 62 (fewer records), 13 or 6 (a
    // channel that is not a 16-bit number). The grid is untouched on error.
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
    // Folder of the unit file and of the dated data file.
    void AppPath(const String& unitfilepath);

    // Sets FrameCount to the frames received by the event-driven receiver;
    // returns 1 once the transfer has ended, otherwise 0.
    Integer Read_Status(Long& FrameCount);
    // Copies the six-element parameter block into iParameter(0..5) and
    // returns 0. Error 9 when the array is unallocated or lacks one of the
    // indices 0..5; elements copied before stay copied.
    Integer GetParameter(VbArray<Integer>& iParameter);
    // Arms an event-driven download: panel to "Press Send Key to Transfer
    // Data", then ReadDataLogger_2. Always returns 0; failures are shown in a
    // message box.
    Integer Start();
    // Sets filename to df and idatano to datano.
    void GetFilename(Long& idatano, String& filename);

    // Loads the unit names from AppPath/unit2.dat and sets df to
    // AppPath/yyyymmdd.dat (today). Errors 53 or 76 (no such file or folder;
    // df is set all the same), 9 (more than 301 lines), 62 (odd item count).
    void ReadUnitFile();

    // The control's own event handler: the host gives it a new size (also
    // when first shown).
    void UserControl_Resize();

    // --- Additions for hosts on this platform ---

    // Ends an armed event-driven transfer without the end marker: every
    // record written so far stays in the data file, which is closed, and the
    // port is closed. fgTransferOK stays False.
    void AbortTransfer(TransferOutcome why = TransferOutcome::Aborted);
    TransferOutcome LastTransferOutcome() const { return outcome_; }
    // Diagnostics of the running or last transfer.
    const TransferStats& Stats() const;
    // Called when a transfer ends, whichever way (from inside an event).
    std::function<void()> onTransferEnded;
    // Called with every read from the port, before the bytes are decoded.
    std::function<void(std::string_view)> onBytesRead;
    // Port numbers to device names, for this control's serial port.
    PortMap& Ports() { return MSComm1_.ports; }
    // The grid ViewData fills.
    DataGrid& Grid() { return grid_; }
    // How long ReadDataLogger waits for the next byte before it gives up;
    // zero waits for ever. Default 60 s.
    void setReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }
    std::chrono::milliseconds readTimeout() const { return readTimeout_; }
    CommControl& MSComm1() { return MSComm1_; }

    // Parts the host's views show.
    StatusPanel& Panel() { return panel_; }
    const StatusPanel& Panel() const { return panel_; }

  private:
    void Timer1_Timer();
    void StartTransfer();
    void MSComm1_OnComm();
    void DispatchFrame();
    void DecodeFrame();

    SessionParts sessionParts();
    // The transfer that is running, if any.
    TransferSession* running() const;
    // The running transfer; a port opened by SCI_Init alone gets one without
    // a data file, so that its frames are decoded and its end is seen.
    TransferSession& runningOrBare();

    MessageLoop& loop_;
    MessageSink& messages_;
    const DateSource& dates_;
    ControlPrivate m_;
    StatusPanel panel_;
    CommControl MSComm1_;
    FileTable files_;
    DataGrid grid_;
    TransferOutcome outcome_ = TransferOutcome::None;
    std::chrono::milliseconds readTimeout_{60000};
    // The running or last transfer; declared last, so it ends before the
    // parts it uses go.
    std::unique_ptr<TransferSession> session_;
};

}  // namespace vantor
