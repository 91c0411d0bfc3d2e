#include "c/one_shot.h"

namespace vantor {

void OneShot::start(std::int32_t milliseconds) {
    stop();
    const std::chrono::milliseconds wait(milliseconds);
    due_ = loop_->now() + wait;
    arm(wait);
}

void OneShot::stop() {
    if (id_ != 0) loop_->stopTimer(id_);
    id_ = 0;
}

void OneShot::arm(std::chrono::milliseconds wait) {
    id_ = loop_->startTimer(wait, [this] {
        stop();
        const auto now = loop_->now();
        if (now < due_) {
            arm(std::chrono::ceil<std::chrono::milliseconds>(due_ - now));
            return;
        }
        fire_();
    });
}

}  // namespace vantor
