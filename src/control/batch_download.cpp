// The blocking download.
#include <algorithm>
#include <optional>
#include <string>

#include "control/vantor_comm.h"
#include "decode/batch_framer.h"
#include "decode/frame_decoder.h"
#include "platform/number_format.h"

namespace vantor {

namespace {

// Ends the wait when the host ended the transfer; not shown to the operator.
struct Aborted {};

constexpr std::int32_t kErrDeviceTimeout = 57;

}  // namespace

Byte Vantor_Comm::waitForByte() {
    auto deadline = loop_.now() + readTimeout_;
    for (;;) {
        if (MSComm1_.InBufferCount() >= 1) {
            std::string byte = MSComm1_.Input();
            if (!byte.empty()) {
                if (onBytesRead) onBytesRead(byte);
                return static_cast<Byte>(byte[0]);
            }
        }
        if (abortRequested_ != TransferOutcome::None) throw Aborted{};
        if (deviceLost_) throw RuntimeError(kErrDeviceIo, MSComm1_.lostReason());
        // Nothing waiting: a good moment to hand the records to the system.
        flushRecords();
        auto wait = std::chrono::milliseconds(60000);
        if (readTimeout_.count() > 0) {
            auto now = loop_.now();
            if (now >= deadline) {
                throw RuntimeError(
                    kErrDeviceTimeout,
                    "Device I/O error: the meter stopped sending (nothing came from " +
                        MSComm1_.deviceName() + " for " +
                        formatNumber(static_cast<double>(readTimeout_.count()) / 1000) + " s)");
            }
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        }
        loop_.waitForEvents(wait);
    }
}

void Vantor_Comm::ReadDataLogger() {
    bool openedPort = false;
    bool openedFile = false;
    std::optional<RuntimeError> error;
    TransferOutcome outcome = TransferOutcome::Failed;
    try {
        if (MSComm1_.PortOpen()) {
            // An armed transfer owns the port: leave it exactly as it is.
            messages_.show("Port already open: " + MSComm1_.deviceName() +
                           " is in use by a transfer armed with Start");
            return;
        }
        // A call that fails must not read as the last one's success.
        fgTransferOK = VbFalse;
        MSComm1_.setCommPort(m_.iCommPort);
        MSComm1_.setSettings("9600,N,8,1");
        MSComm1_.setInputLen(1);
        MSComm1_.setInputMode(1);
        deviceLost_ = false;
        abortRequested_ = TransferOutcome::None;
        batchActive_ = true;  // receive events of an earlier SCI_Init take nothing
        MSComm1_.setPortOpen(VbTrue);
        openedPort = true;
        fgComPortOpen = VbTrue;
        fgTransferOK = VbFalse;
        files_.openOutput(kDataFile, df);
        openedFile = true;
        m_.iEscCount = 0;
        datano = 0;
        outcome_ = TransferOutcome::None;
        stats_ = {};
        counters_ = {};
        writeFailShown_ = false;

        BatchFramer framer;
        for (;;) {
            BatchFramer::Step step = framer.feed(waitForByte(), *this, m_);
            counters_.framesReceived = framer.sequence() + 1;
            if (step.decode) {
                if (hasUnnamedUnit(m_)) ++stats_.unnamedUnits;
                files_.output(kDataFile).writeLineWith(
                    [&](std::string& line) { decodeCells(*this, m_, framer.sequence(), line); });
                ++datano;
            }
            if (step.finished) break;
        }
        flushRecords(true);
        batchActive_ = false;

        fgTransferOK = VbTrue;
        panel_.Label1[2].setCaption("Data Transfer OK");
        panel_.Label1[4].setCaption(std::to_string(datano));
        MSComm1_.setPortOpen(VbFalse);
        fgComPortOpen = VbFalse;
        files_.close(kDataFile);
        stopIndicator();
        messages_.show("Data Received O.K!");
        finish(TransferOutcome::EndMarker);
        return;
    } catch (const Aborted&) {
        outcome = abortRequested_;
    } catch (const RuntimeError& e) {
        error = e;
        outcome = !openedFile                       ? TransferOutcome::NotArmed
                  : deviceLost_                     ? TransferOutcome::DeviceLost
                  : e.number() == kErrDeviceTimeout ? TransferOutcome::TimedOut
                                                    : TransferOutcome::Failed;
    }

    // Release what this call acquired, keeping every record written so far.
    batchActive_ = false;
    abortRequested_ = TransferOutcome::None;
    stopIndicator();
    if (openedFile) {
        flushRecords(true);
        files_.close(kDataFile);
    }
    if (openedPort) {
        try {
            MSComm1_.setPortOpen(VbFalse);
        } catch (const RuntimeError&) {
        }
        fgComPortOpen = VbFalse;
    }
    if (error) messages_.show(error->description());
    finish(outcome);
}

}  // namespace vantor
