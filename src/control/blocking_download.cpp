// The blocking download.
#include <string>

#include "control/vantor_comm.h"
#include "decode/batch_framer.h"

namespace vantor {

void Vantor_Comm::ReadDataLogger() {
    if (MSComm1_.PortOpen()) {
        // An armed transfer owns the port: leave it exactly as it is.
        messages_.show("Port already open: " + MSComm1_.deviceName() +
                       " is in use by a transfer armed with Start");
        return;
    }
    // A call that fails must not read as the last one's success.
    fgTransferOK = VbFalse;
    session_ = std::make_unique<TransferSession>(sessionParts(), TransferSession::Kind::Blocking);
    TransferSession& session = *session_;
    try {
        MSComm1_.setCommPort(m_.iCommPort);
        MSComm1_.setSettings("9600,N,8,1");
        MSComm1_.setInputLen(1);
        MSComm1_.setInputMode(1);
        MSComm1_.setPortOpen(VbTrue);
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
    m_.iEscCount = 0;
    datano = 0;
    outcome_ = TransferOutcome::None;

    try {
        BatchFramer framer;
        for (;;) {
            TransferSession::Next next = session.waitForByte(readTimeout_);
            if (!next.byte) {
                session.end(next.end, next.error);
                return;
            }
            const BatchFramer::Step step = framer.feed(*next.byte, *this, m_);
            session.stats().framesReceived = framer.sequence() + 1;
            if (step.decode) session.writeRecord(framer.sequence());
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
