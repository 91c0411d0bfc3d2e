// Vantor_Comm: the control a host program embeds to download the readings a
// hand-held meter has logged.
//
// Threading: everything runs on the thread that created the control and owns
// its MessageLoop. Receive events of the serial port and the blink timer's
// ticks run from that loop, between the host's calls or while an operation
// waits in the loop; none of the control's members needs a lock, and no
// method may be called from another thread.
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

#include <memory>

#include "control/control_record.h"
#include "control/interface_ids.h"
#include "control/status_panel.h"
#include "platform/comm_control.h"
#include "platform/data_grid.h"
#include "platform/date_source.h"
#include "platform/file_table.h"
#include "platform/message_loop.h"
#include "platform/message_sink.h"
#include "platform/serial_backend.h"
#include "platform/types.h"

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

    // Sets YesNo to True. It examines nothing.
    void CheckFile(Boolean& YesNo);

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
    // Sets filename to df and idatano to datano.
    void GetFilename(Long& idatano, String& filename);

    // The host gives the control a new size (also when first shown).
    void UserControl_Resize();

    // Parts the host's views show.
    StatusPanel& Panel() { return panel_; }
    const StatusPanel& Panel() const { return panel_; }

private:
    void Timer1_Timer();

    MessageLoop& loop_;
    MessageSink& messages_;
    const DateSource& dates_;
    ControlPrivate m_;
    StatusPanel panel_;
    CommControl MSComm1_;
    FileTable files_;
    DataGrid grid_;
};

}  // namespace vantor
