#include "protocol/batch_framer.h"

namespace vantor {

namespace {
constexpr Byte kNul = 0;
}

BatchFramer::Step BatchFramer::feed(Byte b) {
    Step step;
    if (synchronising_) {
        if (b != kCr) {
            // Bytes past the 16th before a CR have no cell: they are dropped,
            // and that frame is counted but not decoded.
            if (cellIndex_ >= 0) {
                cells_[static_cast<std::size_t>(cellIndex_)] = static_cast<Integer>(b - 48);
                --cellIndex_;
            }
            return step;
        }
        ++counter_;
        step.complete = true;
        step.unitIndex = static_cast<Integer>(10 * cells_[12] + cells_[11]);
        step.decode = cellIndex_ == 0 && escCount_ < kEscStopRecords;
        synchronising_ = false;
        cellIndex_ = 15;
        return step;
    }

    if (b == kEsc) ++escCount_;
    if (b == kNul) {
        synchronising_ = true;
        cellIndex_ = 15;
        return step;
    }
    cells_[static_cast<std::size_t>(cellIndex_)] = static_cast<Integer>(b - 48);
    if (--cellIndex_ >= 0) return step;

    cellIndex_ = 15;
    ++counter_;
    step.complete = true;
    step.unitIndex = static_cast<Integer>(10 * hexAdjust(cells_[12]) + cells_[11]);
    step.decode = escCount_ < kEscStopRecords;
    step.finished = escCount_ >= kEscEndTransfer;
    return step;
}

}  // namespace vantor
