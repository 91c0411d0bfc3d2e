// What lies behind the control's public face. Included by the control's own
// code and by the tests; no host sees it.
#pragma once

#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <chrono>
#include <memory>
#include <optional>

#include "control/comm_control.h"
#include "control/control_record.h"
#include "control/transfer_session.h"
#include "files/file_table.h"
#include "protocol/frame_receiver.h"
#include "protocol/reading.h"

namespace vantor {

struct ControlParts {
    ControlParts(Vantor_Comm& control, ControlPlatform& platform);
    // The parts of a control, for its tests.
    static ControlParts& of(Vantor_Comm& control) { return *control.d_; }

    SessionParts sessionParts();
    // The transfer that is running, if any.
    TransferSession* running() const;
    // The running transfer; a port opened by SCI_Init alone gets one without
    // a data file, so that its frames are decoded and its end is seen.
    TransferSession& runningOrBare();
    // Shows an error in a message box and keeps it as LastError().
    void showError(const RuntimeError& error);
    // The one place a decoded frame reaches the control's members: UnitIndex,
    // dValue (not for a time stamp) and, for an extended reading, its
    // channel in cell 13.
    void takeReading(const Reading& reading);

    // Declared first, so that what the host handed over goes last.
    std::shared_ptr<void> keepAlive;
    Vantor_Comm& q;
    MessageLoop& loop;
    MessageSink& messages;
    const DateSource& dates;
    ControlPrivate m;
    FrameReceiver receiver;
    StatusPanel panel;
    CommControl MSComm1;
    FileTable files;
    DataGrid grid;
    TransferOutcome outcome = TransferOutcome::None;
    std::optional<RuntimeError> lastError;
    std::chrono::milliseconds readTimeout{60000};
    std::chrono::milliseconds idleTimeout{0};
    std::chrono::milliseconds transferTimeout{0};
    // The running or last transfer; declared last, so it ends before the
    // parts it uses go.
    std::unique_ptr<TransferSession> session;
};

}  // namespace vantor
