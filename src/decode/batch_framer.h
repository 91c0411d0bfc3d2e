// Framing of the blocking download: a synchronising phase that ends at the
// first CR, then fixed 16-byte blocks counted by length alone.
#pragma once

#include "record/control_record.h"

namespace vantor {

class BatchFramer {
  public:
    struct Step {
        bool decode = false;    // the cells hold a frame to decode with sequence()
        bool finished = false;  // the end marker has been counted
    };

    // Takes one byte into the cells of `m` (each as byte - 48), counting ESC
    // in the block phase and setting UnitIndex when a frame or block is done.
    Step feed(Byte b, ControlPublic& pub, ControlPrivate& m);

    // Sequence number of the frame just completed: frames and blocks taken
    // so far in this call, minus one.
    Long sequence() const { return counter_ - 1; }

  private:
    bool synchronising_ = true;
    int cellIndex_ = 15;
    Long counter_ = 0;
};

}  // namespace vantor
