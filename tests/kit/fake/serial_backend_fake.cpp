#include "kit/fake/serial_backend_fake.h"

#include "kit/fake/message_loop_fake.h"

namespace vantor {

void FakeSerialBackend::open(const std::string& device, const LineSettings& settings) {
    if (openFailure_) {
        SerialFailure kind = *openFailure_;
        openFailure_.reset();
        throw serialError(kind, device);
    }
    open_ = true;
    device_ = device;
    settings_ = settings;
    buffer_.clear();
    ++opens_;
}

void FakeSerialBackend::close() {
    open_ = false;
    buffer_.clear();
}

std::string FakeSerialBackend::read(std::size_t max) {
    ++reads_;
    std::string out = buffer_.substr(0, max);
    buffer_.erase(0, out.size());
    return out;
}

void FakeSerialBackend::arrive(const std::string& bytes) {
    if (!open_) return;  // nobody listens on a closed port
    buffer_ += bytes;
    if (listener_ != nullptr) listener_->bytesArrived();
}

void FakeSerialBackend::lose() {
    if (!open_) return;
    if (listener_ != nullptr) listener_->deviceLost(serialError(SerialFailure::Lost, device_));
}

void FakeSerialBackend::scheduleArrival(FakeMessageLoop& loop, int delayMs,
                                        const std::string& bytes) {
    auto due = lastScheduled_.value_or(loop.now()) + std::chrono::milliseconds(delayMs);
    lastScheduled_ = due;
    loop.postAt(due, [this, bytes] { arrive(bytes); });
}

}  // namespace vantor
