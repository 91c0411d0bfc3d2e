#include "protocol/frame_receiver.h"

namespace vantor {

FrameReceiver::Result FrameReceiver::feed(std::string_view bytes, std::size_t& at,
                                          TransferStats& stats) {
    constexpr std::size_t kTerminator = 15;
    while (at < bytes.size()) {
        const Byte b = static_cast<Byte>(bytes[at++]);
        if (!collecting_) {
            if (b == kStartByte) {
                index_ = 0;
                collecting_ = true;
            } else {
                ++stats.bytesSkipped;
            }
            continue;
        }

        frame_[++index_] = b;
        if (index_ == kTerminator) {
            collecting_ = false;
            if (b != kCr) {
                // A byte went missing on the line: the failing byte may well be
                // the next frame's start byte. It is never counted as ESC.
                ++stats.framesRejected;
                if (b == kStartByte) {
                    index_ = 0;
                    collecting_ = true;
                }
                continue;
            }
            // The terminator is CR, never ESC: nothing is left to count for it.
            ++stats.framesReceived;
            if (escCount_ == 0) ++frameCount_;
            return Result::Completed;
        }
        if (b == kEsc && ++escCount_ >= kEscEndTransfer) return Result::TransferEnded;
    }
    return Result::NeedMore;
}

}  // namespace vantor
