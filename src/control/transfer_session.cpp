#include "control/transfer_session.h"

#include <algorithm>
#include <string>

#include "files/number_format.h"
#include "protocol/record_writer.h"

namespace vantor {

TransferSession::TransferSession(SessionParts parts, Kind kind) : p_(parts), kind_(kind) {}

TransferSession::~TransferSession() {
    // The host's end cuts the transfer short; every record decoded is kept.
    // A session that never got its file or port has nothing to end.
    if (hasFile_ || holdsPort_) end(TransferOutcome::Aborted, std::nullopt, false);
    stopLimits();
}

void TransferSession::startLimits() {
    limited_ = true;
    if (p_.transferTimeout.count() > 0 && limitTimer_ == 0) {
        limitTimer_ = p_.loop.startTimer(p_.transferTimeout,
                                         [this] { limitReached(TransferOutcome::TimedOut); });
    }
}

void TransferSession::heard() {
    lastHeard_ = p_.loop.now();
    // Started once and moved on only when it comes: a reading costs no timer call.
    if (limited_ && p_.idleTimeout.count() > 0 && idleTimer_ == 0 && !ended_) {
        idleTimer_ = p_.loop.startTimer(p_.idleTimeout, [this] { idleTick(); });
    }
}

void TransferSession::idleTick() {
    const auto silent = p_.loop.now() - lastHeard_;
    p_.loop.stopTimer(idleTimer_);
    idleTimer_ = 0;
    if (silent >= p_.idleTimeout) {
        limitReached(TransferOutcome::Idle);
        return;
    }
    idleTimer_ =
        p_.loop.startTimer(std::chrono::ceil<std::chrono::milliseconds>(p_.idleTimeout - silent),
                           [this] { idleTick(); });
}

void TransferSession::limitReached(TransferOutcome why) {
    stopLimits();
    if (kind_ == Kind::Blocking) {
        requestEnd(why);
    } else {
        end(why);
    }
}

void TransferSession::stopLimits() noexcept {
    for (MessageLoop::TimerId* id : {&idleTimer_, &limitTimer_}) {
        if (*id == 0) continue;
        try {
            p_.loop.stopTimer(*id);
        } catch (...) {
            // A timer that cannot be stopped finds the transfer ended.
        }
        *id = 0;
    }
}

void TransferSession::openDataFile(bool emptyNow) {
    p_.files.openOutput(kDataFile, p_.pub.df, emptyNow);
    hasFile_ = true;
}

void TransferSession::arm() {
    holdsPort_ = true;
    if (hasFile_) p_.files.output(kDataFile).empty();
}

void TransferSession::abandon() {
    if (hasFile_) p_.files.abandon(kDataFile);
    hasFile_ = false;
    ended_ = true;
}

void TransferSession::writeRecord(Long sequence, const Reading& reading) {
    if (hasUnnamedUnit(reading, p_.m.sUnitName)) ++stats_.unnamedUnits;
    OutputFile* out = hasFile_ ? p_.files.findOutput(kDataFile) : nullptr;
    if (out == nullptr) return;
    line_.clear();
    RecordItems items;
    appendRecordLine(line_, sequence, reading, p_.m.sUnitName,
                     p_.onRecordWritten ? &items : nullptr);
    out->writeLine(line_);
    ++p_.pub.datano;
    if (p_.onRecordWritten) {
        RecordWritten record;
        record.items.sequence = line_.substr(0, items.sequenceEnd);
        record.items.value = line_.substr(items.valueAt, items.valueEnd - items.valueAt);
        record.items.unit = line_.substr(items.unitAt, items.unitEnd - items.unitAt);
        record.items.unitQuoted = items.unitQuoted;
        record.items.channel = reading.channel;
        record.sequence = sequence;
        record.timeStamp = reading.kind == Reading::Kind::TimeStamp;
        record.stamp = reading.stamp;
        record.value = reading.value;
        record.unitCode = reading.unitCode;
        record.channel = reading.channel;
        record.line = line_;
        p_.onRecordWritten(record);
    }
}

void TransferSession::flushRecords(bool toDisk) {
    OutputFile* out = hasFile_ ? p_.files.findOutput(kDataFile) : nullptr;
    if (out == nullptr) return;
    const std::size_t lost = toDisk ? out->settle() : out->flush();
    if (lost == 0) return;
    p_.pub.datano -= static_cast<Long>(lost);
    stats_.recordsLost += static_cast<std::int64_t>(lost);
    if (!writeFailShown_ && out->lastError()) {
        writeFailShown_ = true;
        showError(*out->lastError());
    }
}

TransferSession::Next TransferSession::waitForByte(std::chrono::milliseconds timeout) {
    const auto deadline = p_.loop.now() + timeout;
    for (;;) {
        if (p_.port.InBufferCount() >= 1) {
            const std::string byte = p_.port.Input();
            if (!byte.empty()) {
                if (p_.onBytesRead) p_.onBytesRead(byte);
                heardMeter_ = true;
                heard();
                return {static_cast<Byte>(byte[0]), TransferOutcome::None, std::nullopt};
            }
        }
        if (endRequested_ != TransferOutcome::None)
            return {std::nullopt, endRequested_, std::nullopt};
        if (deviceLost_) {
            return {std::nullopt, TransferOutcome::DeviceLost,
                    RuntimeError(kErrCommRead, p_.port.lostReason())};
        }
        // Nothing waiting: a good moment to hand the records to the system.
        flushRecords();
        auto wait = std::chrono::milliseconds(60000);
        if (timeout.count() > 0) {
            const auto now = p_.loop.now();
            if (now >= deadline) {
                const std::string silence =
                    "nothing came from " + p_.port.deviceName() + " for " +
                    formatNumber(static_cast<double>(timeout.count()) / 1000) + " s";
                // A meter that never began was most likely never told to.
                return {std::nullopt, TransferOutcome::TimedOut,
                        RuntimeError(
                            kErrDeviceIo,
                            heardMeter_
                                ? "Device I/O error: the meter stopped sending (" + silence + ")"
                                : "Device I/O error: the meter sent nothing (" + silence +
                                      "); press SEND on the meter once the "
                                      "download waits")};
            }
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        }
        p_.loop.waitForEvents(wait);
    }
}

void TransferSession::show(const std::string& text) noexcept {
    try {
        p_.messages.show(text);
    } catch (...) {
        // A message box that cannot be shown must not stop the end of a transfer.
    }
}

void TransferSession::showError(const RuntimeError& error) noexcept {
    try {
        p_.lastError = error;
    } catch (...) {
        // Copying the text failed: the message box still says it.
    }
    show(error.description());
}

void TransferSession::end(TransferOutcome outcome, const std::optional<RuntimeError>& error,
                          bool notify) noexcept {
    if (ended_) return;
    ended_ = true;
    stopLimits();
    try {
        flushRecords(true);
        if (outcome == TransferOutcome::EndMarker) {
            p_.pub.fgTransferOK = VbTrue;
            p_.panel.Label1[2].setCaption("Data Transfer OK");
            p_.panel.Label1[4].setCaption(std::to_string(p_.pub.datano));
        }
        // The host hears of the end only once the port is closed, even one
        // that SCI_Init opened before this transfer began.
        if (holdsPort_ || (notify && p_.port.PortOpen())) {
            p_.port.setPortOpen(VbFalse);
            p_.pub.fgComPortOpen = VbFalse;
        }
        if (hasFile_) p_.files.close(kDataFile);
        hasFile_ = false;
        p_.panel.Timer1.setEnabled(false);
        p_.panel.Shape1.setVisible(false);
        p_.panel.Label3.setVisible(false);
    } catch (...) {
        // Closing cannot fail in a way the host could mend; what is left is
        // released by the control's own end.
        if (holdsPort_) p_.pub.fgComPortOpen = VbFalse;
    }
    if (kind_ == Kind::Blocking && outcome == TransferOutcome::EndMarker &&
        stats_.recordsLost == 0) {
        show("Data Received O.K!");
    }
    if (error) showError(*error);
    // The end marker came, but records are not in the data file: a host
    // that looks only at the outcome must not take that for success.
    p_.outcome = outcome == TransferOutcome::EndMarker && stats_.recordsLost > 0
                     ? TransferOutcome::Failed
                     : outcome;
    if (notify && p_.onEnded) {
        try {
            p_.onEnded();
        } catch (...) {
            // The host's callback runs inside an event: nothing may leave it.
        }
    }
}

}  // namespace vantor
