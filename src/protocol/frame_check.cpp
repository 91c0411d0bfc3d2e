#include <vantor/port_list.h>
#include <vantor/transfer_stats.h>

#include "protocol/frame_receiver.h"

namespace vantor {

bool holdsFrame(std::string_view bytes) {
    FrameReceiver receiver;
    TransferStats ignored;
    std::size_t at = 0;
    return receiver.feed(bytes, at, ignored) == FrameReceiver::Result::Completed;
}

}  // namespace vantor
