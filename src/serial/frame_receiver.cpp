#include "serial/frame_receiver.h"

namespace vantor {

namespace {
constexpr Byte kCr = 13;
}

ReceiveResult receiveBytes(ControlPrivate& m, std::string_view bytes, std::size_t& at,
                           TransferStats& stats) {
    const Integer lastSlot = static_cast<Integer>(m.vFrameBuf.size() - 1);
    while (at < bytes.size()) {
        const Byte b = static_cast<Byte>(bytes[at++]);
        if (m.iRxState != 2) {
            if (b == m.bySync[static_cast<std::size_t>(m.iSyncIdx & 15)]) {
                m.iRxIdx = 0;
                m.iRxState = 2;
            } else {
                ++stats.bytesSkipped;
            }
            continue;
        }

        ++m.iRxIdx;
        m.vFrameBuf[static_cast<std::size_t>(m.iRxIdx)] = b;
        if (m.iRxIdx == m.iFrameEnd || m.iRxIdx >= lastSlot) {
            if (b != kCr || m.iRxIdx != m.iFrameEnd) {
                // A byte went missing on the line: the failing byte may well be
                // the next frame's start byte. It is never counted as ESC.
                ++stats.framesRejected;
                m.iRxState = 0;
                if (b == m.bySync[static_cast<std::size_t>(m.iSyncIdx & 15)]) {
                    m.iRxIdx = 0;
                    m.iRxState = 2;
                }
                continue;
            }
            // The terminator is CR, never ESC: nothing is left to count for it.
            ++stats.framesReceived;
            if (m.iEscCount == 0) ++m.lFrameCount;
            m.iSyncIdx = 1;
            m.iRxState = 0;
            return ReceiveResult::Frame;
        }
        if (b == kEsc) {
            ++m.iEscCount;
            if (m.iEscCount >= kEscEndTransfer) return ReceiveResult::TransferEnded;
        }
    }
    return ReceiveResult::NeedMore;
}

}  // namespace vantor
