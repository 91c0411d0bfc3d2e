// The blocking download.
#include <string>

#include "control/control_parts.h"
#include "protocol/batch_framer.h"

namespace vantor {

void Vantor_Comm::ReadDataLogger() {
    if (d_->MSComm1.PortOpen()) {
        const TransferSession* armed = d_->running();
        if (armed != nullptr && armed->hasDataFile()) {
            // An armed transfer owns the port: leave it and its panel exactly as they are.
            d_->showError(
                RuntimeError(kErrPortAlreadyOpen, "Port already open: " + d_->MSComm1.deviceName() +
                                                      " is in use by a transfer armed with Start"));
            return;
        }
        // Opened by SCI_Init alone: the serial control refuses the port, and
        // the error path runs with the flags and the port as they are.
        d_->panel.Timer1.setEnabled(false);
        d_->panel.Shape1.setVisible(false);
        d_->panel.Label3.setVisible(false);
        d_->showError(RuntimeError(kErrPortAlreadyOpen,
                                   "Port already open: " + d_->MSComm1.deviceName() +
                                       " was opened by SCI_Init and is still open; end it with "
                                       "AbortTransfer before ReadDataLogger"));
        return;
    }
    // A call that fails must not read as the last one's success.
    fgTransferOK = VbFalse;
    d_->lastError.reset();
    d_->session =
        std::make_unique<TransferSession>(d_->sessionParts(), TransferSession::Kind::Blocking);
    TransferSession& session = *d_->session;
    try {
        d_->MSComm1.setCommPort(d_->m.iCommPort);
        d_->MSComm1.setSettings("9600,N,8,1");
        d_->MSComm1.setInputLen(1);
        d_->MSComm1.setInputMode(1);
        d_->MSComm1.setPortOpen(VbTrue);
    } catch (const RuntimeError& e) {
        session.end(TransferOutcome::NotArmed, e);
        return;
    }
    session.holdPort();
    fgComPortOpen = VbTrue;
    try {
        session.openDataFile(true);
    } catch (const RuntimeError& e) {
        session.end(TransferOutcome::NotArmed, e);
        return;
    }
    d_->receiver.setEscCount(0);
    datano = 0;
    d_->outcome = TransferOutcome::None;
    session.startLimits();

    BatchFramer framer(d_->m.iDigit);
    // One ESC count per control: a port SCI_Init opens later goes on from it.
    struct KeepEscCount {
        FrameReceiver& receiver;
        const BatchFramer& framer;
        ~KeepEscCount() { receiver.setEscCount(framer.escCount()); }
    } keepEscCount{d_->receiver, framer};
    try {
        for (;;) {
            TransferSession::Next next = session.waitForByte(d_->readTimeout);
            if (!next.byte) {
                session.end(next.end, next.error);
                return;
            }
            const BatchFramer::Step step = framer.feed(*next.byte);
            session.stats().framesReceived = framer.sequence() + 1;
            if (step.complete) {
                d_->m.iDigit = framer.cells();
                UnitIndex = step.unitIndex;
            }
            if (step.decode) {
                const Reading reading = decodeReading(d_->m.iDigit);
                d_->takeReading(reading);
                session.writeRecord(framer.sequence(), reading);
            }
            if (step.finished) break;
        }
    } catch (const RuntimeError& e) {
        session.end(session.isDeviceLost() ? TransferOutcome::DeviceLost : TransferOutcome::Failed,
                    e);
        return;
    }
    session.end(TransferOutcome::EndMarker);
}

}  // namespace vantor
