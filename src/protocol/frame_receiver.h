// The event-driven receiver: cuts the meter's byte stream into frames and
// counts the end marker's ESC bytes.
#pragma once

#include <vantor/transfer_stats.h>

#include <cstddef>
#include <string_view>

#include "protocol/frame.h"

namespace vantor {

class FrameReceiver {
  public:
    enum class Result {
        NeedMore,       // every byte has been examined
        Completed,      // frame() holds a frame whose 16th byte is CR
        TransferEnded,  // the 28th ESC byte: the rest of the read is left unexamined
    };

    // Back to hunting for a start byte (the port setup does this).
    void hunt() { collecting_ = false; }

    // Runs over `bytes` from `at` on, in order, and stops after the byte that
    // completes a frame (Completed: take frame(), then call again with the same
    // `at` to go on), after the 28th ESC, or at the end of the bytes. A frame
    // with a bad terminator is dropped and hunting resumes at the byte that
    // failed the test, so later frames of the same read are kept. Counts
    // frames and skipped bytes into `stats`.
    Result feed(std::string_view bytes, std::size_t& at, TransferStats& stats);

    // Bytes that must still come before feed() can complete a frame.
    std::size_t bytesToFrameEnd() const { return collecting_ ? 15 - index_ : Frame().size(); }

    // The frame just completed.
    const Frame& frame() const { return frame_; }

    // ESC bytes inside frames since the count was last set. One count per
    // control: the blocking download's carries over to a later SCI_Init.
    Integer escCount() const { return escCount_; }
    void setEscCount(Integer count) { escCount_ = count; }
    // Frames completed while no ESC had been counted.
    Long frameCount() const { return frameCount_; }
    void clearFrameCount() { frameCount_ = 0; }

  private:
    bool collecting_ = false;
    std::size_t index_ = 0;  // position of the last byte stored
    Frame frame_{kStartByte};
    Integer escCount_ = 0;
    Long frameCount_ = 0;
};

}  // namespace vantor
