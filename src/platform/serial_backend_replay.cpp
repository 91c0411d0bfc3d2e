#include "platform/serial_backend_replay.h"

#include <algorithm>

namespace vantor {

ReplaySerialBackend::ReplaySerialBackend(MessageLoop& loop, std::string capture, std::string name)
    : loop_(loop), capture_(std::move(capture)), name_(std::move(name)) {}

ReplaySerialBackend::~ReplaySerialBackend() { *alive_ = false; }

void ReplaySerialBackend::open(const std::string&, const LineSettings&) {
    open_ = true;
    buffer_.clear();
    readPos_ = 0;
    std::weak_ptr<bool> alive = alive_;
    // Like a line, the bytes arrive after the opening call has returned.
    loop_.post([this, alive] {
        if (alive.expired() || !*alive.lock() || !open_) return;
        buffer_ = capture_;
        if (listener_ != nullptr && !buffer_.empty()) listener_->bytesArrived();
    });
    loop_.post([this, alive] {
        if (alive.expired() || !*alive.lock() || !open_ || listener_ == nullptr) return;
        listener_->deviceLost(RuntimeError(
            kErrInputPastEnd, "Input past end of file: the capture " + name_ +
                                  " ends before the meter's end marker"));
    });
}

void ReplaySerialBackend::close() {
    open_ = false;
    buffer_.clear();
    readPos_ = 0;
}

std::string ReplaySerialBackend::read(std::size_t max) {
    std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    return out;
}

}  // namespace vantor
