#include "decode/batch_framer.h"

#include "decode/frame_decoder.h"

namespace vantor {

namespace {
constexpr Byte kCr = 13;
constexpr Byte kNul = 0;
}  // namespace

BatchFramer::Step BatchFramer::feed(Byte b, ControlPublic& pub, ControlPrivate& m) {
    Step step;
    if (synchronising_) {
        if (b != kCr) {
            // Bytes past the 16th before a CR have no cell: they are dropped,
            // and that frame is counted but not decoded.
            if (cellIndex_ >= 0) {
                m.iDigit[static_cast<std::size_t>(cellIndex_)] = static_cast<Integer>(b - 48);
            }
            if (cellIndex_ >= 0) --cellIndex_;
            return step;
        }
        ++counter_;
        pub.UnitIndex = static_cast<Integer>(10 * m.iDigit[12] + m.iDigit[11]);
        step.decode = cellIndex_ == 0 && m.iEscCount < kEscStopRecords;
        synchronising_ = false;
        cellIndex_ = 15;
        return step;
    }

    if (b == kEsc) ++m.iEscCount;
    if (b == kNul) {
        synchronising_ = true;
        cellIndex_ = 15;
        return step;
    }
    m.iDigit[static_cast<std::size_t>(cellIndex_)] = static_cast<Integer>(b - 48);
    if (--cellIndex_ >= 0) return step;

    cellIndex_ = 15;
    ++counter_;
    pub.UnitIndex = static_cast<Integer>(10 * hexAdjust(m.iDigit[12]) + m.iDigit[11]);
    step.decode = m.iEscCount < kEscStopRecords;
    step.finished = m.iEscCount >= kEscEndTransfer;
    return step;
}

}  // namespace vantor
