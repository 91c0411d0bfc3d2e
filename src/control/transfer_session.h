// One download from its start to its end. A session owns what a transfer
// owns: file number 2 while it is open, the port while the transfer holds
// it, the counters and diagnostics, the write-failure state and how the
// transfer ended. Every way a transfer ends goes through end().
#pragma once

#include <vantor/errors.h>
#include <vantor/message_loop.h>
#include <vantor/message_sink.h>
#include <vantor/status_panel.h>
#include <vantor/transfer_stats.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>

#include "control/comm_control.h"
#include "control/control_record.h"
#include "files/file_table.h"
#include "protocol/reading.h"

namespace vantor {

// What the control lends its sessions.
struct SessionParts {
    ControlPublic& pub;
    ControlPrivate& m;
    CommControl& port;
    FileTable& files;
    StatusPanel& panel;
    MessageSink& messages;
    MessageLoop& loop;
    TransferOutcome& outcome;                                  // the control's last outcome
    std::optional<RuntimeError>& lastError;                    // the last error shown
    const std::function<void()>& onEnded;                      // the host's notification
    const std::function<void(std::string_view)>& onBytesRead;  // the host's tap on the line
    const std::function<void(const RecordWritten&)>& onRecordWritten;
    std::chrono::milliseconds idleTimeout;      // zero: none
    std::chrono::milliseconds transferTimeout;  // zero: none
};

class TransferSession {
  public:
    static constexpr Integer kDataFile = 2;

    enum class Kind {
        Events,    // armed by the transfer start, carried by receive events
        Blocking,  // one call that reads the line itself
    };

    // What a wait of the blocking download brings: a byte, or why the
    // transfer ends (with the error to show, if any).
    struct Next {
        std::optional<Byte> byte;
        TransferOutcome end = TransferOutcome::None;
        std::optional<RuntimeError> error;
    };

    TransferSession(SessionParts parts, Kind kind);
    ~TransferSession();
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    Kind kind() const { return kind_; }
    bool ended() const { return ended_; }
    // Armed by the transfer start or the blocking download, not a port
    // opened by SCI_Init alone.
    bool hasDataFile() const { return hasFile_; }
    const TransferStats& stats() const { return stats_; }
    TransferStats& stats() { return stats_; }

    // Opens df as file number 2, throwing the file's error. With `emptyNow`
    // false it keeps its contents until arm().
    void openDataFile(bool emptyNow);
    // The port is open: the transfer holds it from now on.
    void holdPort() { holdsPort_ = true; }
    // The port is open: the transfer holds it, and the data file is emptied.
    // Throws when the file cannot be cut.
    void arm();
    // The port could not be opened: the data file is left as it was (a file
    // the session created is removed) and the session ends without a word.
    void abandon();

    // Writes the reading's line into the data file (without one, there is
    // nowhere to write) and counts it in datano.
    void writeRecord(Long sequence, const Reading& reading);
    // Hands the records decoded so far to the operating system; `toDisk`
    // waits until they are on the disk. The first write failure is shown.
    void flushRecords(bool toDisk = false);

    // Blocking download: waits in the message loop for the next byte, at most
    // `timeout` (zero: for ever), and hands it to the host's tap.
    Next waitForByte(std::chrono::milliseconds timeout);
    // The transfer is armed: its time limit runs from now.
    void startLimits();
    // Bytes came from the meter: the idle time-out counts from now.
    void heard();

    // The device went away (a receive event said so).
    void deviceLost() { deviceLost_ = true; }
    bool isDeviceLost() const { return deviceLost_; }
    // The host ends a blocking download: its wait returns `why`.
    void requestEnd(TransferOutcome why) { endRequested_ = why; }

    // Ends the transfer, in this order: the records to the disk; for the end
    // marker fgTransferOK, "Data Transfer OK" and the record count; the
    // port closed and fgComPortOpen False if the transfer held it; file 2
    // closed; the indicator stopped; the message ("Data Received O.K!" for a
    // blocking success, else `error`); the outcome (Failed when the end
    // marker came but records were lost); the host notified.
    // Runs once; later calls do nothing.
    void end(TransferOutcome outcome, const std::optional<RuntimeError>& error = std::nullopt,
             bool notify = true) noexcept;

  private:
    void show(const std::string& text) noexcept;
    void stopLimits() noexcept;
    void idleTick();
    // A limit ends the transfer as the host's AbortTransfer would.
    void limitReached(TransferOutcome why);
    void showError(const RuntimeError& error) noexcept;

    SessionParts p_;
    Kind kind_;
    bool hasFile_ = false;
    bool holdsPort_ = false;
    bool ended_ = false;
    bool writeFailShown_ = false;
    bool deviceLost_ = false;
    bool heardMeter_ = false;  // the blocking download has had a byte
    TransferOutcome endRequested_ = TransferOutcome::None;
    bool limited_ = false;  // armed by a start: the time-outs apply
    MessageLoop::TimerId idleTimer_ = 0;
    MessageLoop::TimerId limitTimer_ = 0;
    MessageLoop::Clock::time_point lastHeard_{};
    TransferStats stats_;
    std::string line_;  // the line being written
};

}  // namespace vantor
