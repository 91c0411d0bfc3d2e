// The event-driven download: port setup, transfer start, receive events and
// the end of the transfer.
#include <string>

#include "control/vantor_comm.h"
#include "decode/frame_decoder.h"
#include "serial/frame_receiver.h"

namespace vantor {

void Vantor_Comm::SCI_Init() {
    try {
        m_.iRxState = 0;
        m_.bySync[1] = 2;
        m_.iFrameEnd = 15;
        m_.iSyncIdx = 1;
        m_.iRxIdx = 0;
        MSComm1_.setCommPort(m_.iCommPort);
        if (MSComm1_.PortOpen()) return;
        MSComm1_.setCommPort(m_.iCommPort);
        MSComm1_.setSettings("9600,N,8,1");
        MSComm1_.setInputMode(1);
        MSComm1_.setInputLen(0);
        MSComm1_.setRThreshold(1);
        MSComm1_.setPortOpen(VbTrue);
    } catch (const RuntimeError& e) {
        messages_.show(e.description());
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
    panel_.Label1[2].setCaption("Press Send Key to Transfer Data");
    panel_.Timer1.setEnabled(true);
    panel_.Shape1.setVisible(true);
    panel_.Label3.setVisible(true);
    panel_.Label1[4].setCaption("0");
    ReadDataLogger_2();
}

void Vantor_Comm::ReadDataLogger_2() {
    try {
        auto session =
            std::make_unique<TransferSession>(sessionParts(), TransferSession::Kind::Events);
        // Emptied only once the port is open: a start that cannot arm must
        // not destroy the last download.
        session->openDataFile(false);
        session_ = std::move(session);
        m_.iEscCount = 0;
        datano = 0;
        m_.lDecodeCount = 0;
        outcome_ = TransferOutcome::None;
        SCI_Init();
        m_.lFrameCount = 0;
        if (MSComm1_.PortOpen()) {
            try {
                session_->arm();
            } catch (const RuntimeError&) {
                session_->abandon();
                MSComm1_.setPortOpen(VbFalse);
                throw;
            }
            fgComPortOpen = VbTrue;
        } else {
            // Nothing can be heard: give the file back, so that a later Start
            // with a corrected port works.
            session_->abandon();
            outcome_ = TransferOutcome::NotArmed;
        }
        fgTransferOK = VbFalse;
    } catch (const RuntimeError& e) {
        // A transfer still armed (a second Start) keeps its own outcome.
        if (running() == nullptr) outcome_ = TransferOutcome::NotArmed;
        messages_.show(e.description());
    }
}

void Vantor_Comm::MSComm1_OnComm() {
    TransferSession* session = running();
    if (MSComm1_.CommEvent() == CommControl::comEvDeviceLost) {
        if (session != nullptr && session->kind() == TransferSession::Kind::Blocking) {
            session->deviceLost();
        } else if (fgComPortOpen) {
            runningOrBare().end(TransferOutcome::DeviceLost,
                                RuntimeError(kErrCommRead, MSComm1_.lostReason()));
        }
        return;
    }
    if (MSComm1_.CommEvent() != CommControl::comEvReceive) return;
    // The blocking download has the input to itself.
    if (session != nullptr && session->kind() == TransferSession::Kind::Blocking) return;
    if (!MSComm1_.PortOpen()) return;

    const std::string bytes = MSComm1_.Input();
    if (bytes.empty()) return;
    if (onBytesRead) onBytesRead(bytes);
    TransferSession& transfer = runningOrBare();
    std::size_t at = 0;
    for (;;) {
        switch (receiveBytes(m_, bytes, at, transfer.stats())) {
            case ReceiveResult::Frame:
                DispatchFrame();
                continue;
            case ReceiveResult::NeedMore:
                transfer.flushRecords();
                return;
            case ReceiveResult::TransferEnded:
                transfer.end(TransferOutcome::EndMarker);
                return;
        }
    }
}

void Vantor_Comm::DispatchFrame() {
    m_.vFrameBuf[0] = m_.bySync[1];
    for (int j = 0; j <= 15; ++j) {
        m_.iDigit[static_cast<std::size_t>(15 - j)] =
            digitValue(m_.vFrameBuf[static_cast<std::size_t>(j)].value_or(0));
    }
    DecodeFrame();
}

void Vantor_Comm::DecodeFrame() {
    ++m_.lDecodeCount;
    UnitIndex = unitCodeOf(m_);
    if (m_.iEscCount >= kEscStopRecords) return;
    runningOrBare().writeRecord(m_.lDecodeCount - 1);
}

void Vantor_Comm::AbortTransfer(TransferOutcome why) {
    TransferSession* session = running();
    if (session != nullptr && session->kind() == TransferSession::Kind::Blocking) {
        // The blocking download's wait returns, and it ends the transfer.
        session->requestEnd(why);
        return;
    }
    // Nothing armed: a finished transfer keeps its outcome.
    if (session == nullptr && !MSComm1_.PortOpen()) return;
    runningOrBare().end(why);
}

}  // namespace vantor
