// Framing of the blocking download: a synchronising phase that ends at the
// first CR, then fixed 16-byte blocks counted by length alone. Each byte
// goes into a cell as byte - 48; cells a short frame does not reach keep
// what they held.
#pragma once

#include "protocol/frame.h"

namespace vantor {

class BatchFramer {
  public:
    struct Step {
        bool complete = false;  // a frame or block is done: unitIndex is its unit
        bool decode = false;    // and cells() hold one to decode with sequence()
        bool finished = false;  // the end marker has been counted
        Integer unitIndex = 0;
    };

    // Starts from the cells `kept` (the control's, from its last frame).
    explicit BatchFramer(const Cells& kept = {}) : cells_(kept) {}

    Step feed(Byte b);

    const Cells& cells() const { return cells_; }
    // Sequence number of the frame just completed: frames and blocks taken
    // so far, minus one.
    Long sequence() const { return counter_ - 1; }
    // ESC bytes counted in the block phase.
    Integer escCount() const { return escCount_; }

  private:
    Cells cells_;
    bool synchronising_ = true;
    int cellIndex_ = 15;
    Long counter_ = 0;
    Integer escCount_ = 0;
};

}  // namespace vantor
