#include <vantor/forms.h>
#include <vantor/message_loop.h>

#include <algorithm>
#include <chrono>

namespace vantor {

int Observable::subscribe(Listener listener) {
    listeners_.push_back({nextId_, std::move(listener)});
    return nextId_++;
}

void Observable::unsubscribe(int id) {
    std::erase_if(listeners_, [id](const Entry& e) { return e.id == id; });
}

void Observable::changed() {
    // A view may unsubscribe while being told; iterate over a copy.
    auto copy = listeners_;
    for (auto& e : copy) e.fn();
}

void Label::setCaption(const String& text) {
    if (text == caption_) return;
    caption_ = text;
    changed();
}

void Label::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    changed();
}

void Shape::setFillColour(Colour colour) {
    if (colour == fillColour_) return;
    fillColour_ = colour;
    changed();
}

void Shape::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    changed();
}

Timer::~Timer() {
    disarm();
}

void Timer::setInterval(int ms) {
    intervalMs_ = ms;
    disarm();
    arm();
    changed();
}

void Timer::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled_) {
        arm();
    } else {
        disarm();
    }
    changed();
}

void Timer::arm() {
    if (!enabled_ || intervalMs_ <= 0 || timerId_ != 0) return;
    timerId_ = loop_.startTimer(std::chrono::milliseconds(intervalMs_), [this] {
        if (onTimer) onTimer();
    });
}

void Timer::disarm() {
    if (timerId_ == 0) return;
    loop_.stopTimer(timerId_);
    timerId_ = 0;
}

}  // namespace vantor
