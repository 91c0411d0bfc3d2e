// The event-driven download: port setup, transfer start, receive events and
// the end of the transfer.
#include <string>

#include "control/control_parts.h"

namespace vantor {

void Vantor_Comm::SCI_Init() {
    try {
        d_->receiver.hunt();
        d_->MSComm1.setCommPort(d_->m.iCommPort);
        if (d_->MSComm1.PortOpen()) return;
        d_->MSComm1.setCommPort(d_->m.iCommPort);
        d_->MSComm1.setSettings("9600,N,8,1");
        d_->MSComm1.setInputMode(1);
        d_->MSComm1.setInputLen(0);
        d_->MSComm1.setRThreshold(1);
        d_->MSComm1.setPortOpen(VbTrue);
    } catch (const RuntimeError& e) {
        d_->showError(e);
    }
}

Integer Vantor_Comm::Start() {
    StartTransfer();
    return 0;
}

void Vantor_Comm::StartTransfer() {
    Boolean go = VbFalse;
    CheckFile(go);
    if (!go) return;
    d_->panel.Label1[2].setCaption("Press Send Key to Transfer Data");
    d_->panel.Timer1.setEnabled(true);
    d_->panel.Shape1.setVisible(true);
    d_->panel.Label3.setVisible(true);
    d_->panel.Label1[4].setCaption("0");
    ReadDataLogger_2();
}

void Vantor_Comm::ReadDataLogger_2() {
    d_->lastError.reset();
    try {
        auto session =
            std::make_unique<TransferSession>(d_->sessionParts(), TransferSession::Kind::Events);
        // Emptied only once the port is open: a start that cannot arm must
        // not destroy the last download.
        session->openDataFile(false);
        d_->session = std::move(session);
        d_->receiver.setEscCount(0);
        datano = 0;
        d_->m.lDecodeCount = 0;
        d_->outcome = TransferOutcome::None;
        SCI_Init();
        d_->receiver.clearFrameCount();
        // The host ended the transfer from inside SCI_Init's message box.
        if (d_->session->ended()) return;
        if (d_->MSComm1.PortOpen()) {
            try {
                d_->session->arm();
            } catch (const RuntimeError&) {
                d_->session->abandon();
                d_->MSComm1.setPortOpen(VbFalse);
                throw;
            }
            fgComPortOpen = VbTrue;
            d_->session->startLimits();
        } else {
            // Nothing can be heard: give the file back, so that a later Start
            // with a corrected port works.
            d_->session->abandon();
            d_->outcome = TransferOutcome::NotArmed;
        }
        fgTransferOK = VbFalse;
    } catch (const RuntimeError& e) {
        // A transfer still armed (a second Start) keeps its own outcome.
        if (d_->running() == nullptr) d_->outcome = TransferOutcome::NotArmed;
        d_->showError(e);
    }
}

void Vantor_Comm::MSComm1_OnComm() {
    TransferSession* session = d_->running();
    if (d_->MSComm1.CommEvent() == CommControl::comEvDeviceLost) {
        if (session != nullptr && session->kind() == TransferSession::Kind::Blocking) {
            session->deviceLost();
        } else if (fgComPortOpen) {
            d_->runningOrBare().end(TransferOutcome::DeviceLost,
                                    RuntimeError(kErrCommRead, d_->MSComm1.lostReason()));
        }
        return;
    }
    if (d_->MSComm1.CommEvent() != CommControl::comEvReceive) return;
    // The blocking download has the input to itself.
    if (session != nullptr && session->kind() == TransferSession::Kind::Blocking) return;
    if (!d_->MSComm1.PortOpen()) return;

    const std::string bytes = d_->MSComm1.Input();
    if (bytes.empty()) return;
    if (onBytesRead) onBytesRead(bytes);
    TransferSession& transfer = d_->runningOrBare();
    transfer.heard();
    std::size_t at = 0;
    for (;;) {
        switch (d_->receiver.feed(bytes, at, transfer.stats())) {
            case FrameReceiver::Result::Completed:
                DispatchFrame();
                continue;
            case FrameReceiver::Result::NeedMore:
                transfer.flushRecords();
                d_->MSComm1.expect(d_->receiver.bytesToFrameEnd());
                return;
            case FrameReceiver::Result::TransferEnded:
                transfer.end(TransferOutcome::EndMarker);
                return;
        }
    }
}

void Vantor_Comm::DispatchFrame() {
    d_->m.iDigit = cellsOf(d_->receiver.frame());
    DecodeFrame();
}

void Vantor_Comm::DecodeFrame() {
    ++d_->m.lDecodeCount;
    UnitIndex = unitCodeOf(d_->m.iDigit);
    if (d_->receiver.escCount() >= kEscStopRecords) return;
    const Reading reading = decodeReading(d_->m.iDigit);
    d_->takeReading(reading);
    d_->runningOrBare().writeRecord(d_->m.lDecodeCount - 1, reading);
}

void Vantor_Comm::AbortTransfer(TransferOutcome why) {
    TransferSession* session = d_->running();
    if (session != nullptr && session->kind() == TransferSession::Kind::Blocking) {
        // The blocking download's wait returns, and it ends the transfer.
        session->requestEnd(why);
        return;
    }
    // Nothing armed: a finished transfer keeps its outcome.
    if (session == nullptr && !d_->MSComm1.PortOpen()) return;
    d_->runningOrBare().end(why);
}

}  // namespace vantor
