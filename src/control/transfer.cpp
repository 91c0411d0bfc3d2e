// The event-driven download: port setup, transfer start, receive events and
// the end of the transfer.
#include <string>

#include "control/vantor_comm.h"
#include "decode/frame_decoder.h"

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
        deviceLost_ = false;
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
        // Emptied only once the port is open: a start that cannot arm must
        // not destroy the last download.
        OutputFile& out = files_.openOutput(kDataFile, df, false);
        m_.iEscCount = 0;
        datano = 0;
        m_.lDecodeCount = 0;
        outcome_ = TransferOutcome::None;
        stats_ = {};
        counters_ = {};
        writeFailShown_ = false;
        SCI_Init();
        m_.lFrameCount = 0;
        if (MSComm1_.PortOpen()) {
            try {
                out.empty();
            } catch (const RuntimeError&) {
                files_.abandon(kDataFile);
                MSComm1_.setPortOpen(VbFalse);
                throw;
            }
            fgComPortOpen = VbTrue;
        } else {
            // Nothing can be heard: release the file so that a later Start
            // with a corrected port works.
            files_.abandon(kDataFile);
            outcome_ = TransferOutcome::NotArmed;
        }
        fgTransferOK = VbFalse;
    } catch (const RuntimeError& e) {
        // A transfer still armed (a second Start) keeps its own outcome.
        if (!files_.isOpen(kDataFile)) outcome_ = TransferOutcome::NotArmed;
        messages_.show(e.description());
    }
}

void Vantor_Comm::MSComm1_OnComm() {
    if (MSComm1_.CommEvent() == CommControl::comEvDeviceLost) {
        deviceLost_ = true;
        if (!batchActive_ && fgComPortOpen) {
            AbortTransfer(TransferOutcome::DeviceLost);
            messages_.show(MSComm1_.lostReason());
        }
        return;
    }
    if (MSComm1_.CommEvent() != CommControl::comEvReceive || batchActive_) return;

    std::string bytes;
    try {
        bytes = MSComm1_.Input();
    } catch (const RuntimeError&) {
        return;
    }
    if (bytes.empty()) return;
    if (onBytesRead) onBytesRead(bytes);

    // A frame that cannot be decoded or written is skipped; the host never
    // sees an error from inside an event.
    auto dispatch = [this] {
        try {
            DispatchFrame();
        } catch (const RuntimeError&) {
        }
    };
    ReceiveResult result = receiveBytes(m_, bytes, dispatch, counters_);
    flushRecords();
    if (result == ReceiveResult::TransferEnded) EndTransfer();
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
    const Long sequence = m_.lDecodeCount - 1;
    if (hasUnnamedUnit(m_)) ++stats_.unnamedUnits;
    OutputFile* out = files_.findOutput(kDataFile);
    if (out == nullptr) {
        // Without an open data file (SCI_Init alone) there is nowhere to write.
        line_.clear();
        decodeCells(*this, m_, sequence, line_);
        return;
    }
    out->writeLineWith([&](std::string& line) { decodeCells(*this, m_, sequence, line); });
    ++datano;
}

void Vantor_Comm::flushRecords(bool toDisk) {
    OutputFile* file = files_.findOutput(kDataFile);
    if (file == nullptr) return;
    OutputFile& out = *file;
    std::size_t lost = toDisk ? out.settle() : out.flush();
    if (lost == 0) return;
    datano -= static_cast<Long>(lost);
    stats_.recordsLost += static_cast<Long>(lost);
    if (!writeFailShown_ && out.lastError()) {
        writeFailShown_ = true;
        messages_.show(out.lastError()->description());
    }
}

void Vantor_Comm::stopIndicator() {
    panel_.Timer1.setEnabled(false);
    panel_.Shape1.setVisible(false);
    panel_.Label3.setVisible(false);
}

void Vantor_Comm::finish(TransferOutcome outcome) {
    outcome_ = outcome;
    stats_.framesReceived = counters_.framesReceived;
    stats_.framesRejected = counters_.framesRejected;
    stats_.bytesSkipped = counters_.bytesSkipped;
    if (onTransferEnded) onTransferEnded();
}

void Vantor_Comm::EndTransfer() {
    // Every step runs, whatever an earlier one met.
    flushRecords(true);
    fgTransferOK = VbTrue;
    panel_.Label1[2].setCaption("Data Transfer OK");
    panel_.Label1[4].setCaption(std::to_string(datano));
    try {
        MSComm1_.setPortOpen(VbFalse);
    } catch (const RuntimeError&) {
    }
    fgComPortOpen = VbFalse;
    files_.close(kDataFile);
    stopIndicator();
    finish(TransferOutcome::EndMarker);
}

void Vantor_Comm::AbortTransfer(TransferOutcome why) {
    if (batchActive_) {
        // The blocking download notices when its wait returns, and releases
        // what it holds itself.
        abortRequested_ = why;
        return;
    }
    // Nothing armed: a finished transfer keeps its outcome.
    if (!files_.isOpen(kDataFile) && !MSComm1_.PortOpen()) return;
    flushRecords(true);
    files_.close(kDataFile);
    try {
        MSComm1_.setPortOpen(VbFalse);
    } catch (const RuntimeError&) {
    }
    fgComPortOpen = VbFalse;
    stopIndicator();
    finish(why);
}

}  // namespace vantor
