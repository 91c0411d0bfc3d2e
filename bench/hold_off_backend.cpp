#include "hold_off_backend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/serial_errors.h"

namespace vantor::bench {

namespace {

speed_t speedOf(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B9600;
    }
}

}  // namespace

HoldOffSerialBackend::HoldOffSerialBackend(std::chrono::milliseconds holdOff)
    : holdOff_(holdOff), timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { holdOffOver(); });
}

HoldOffSerialBackend::~HoldOffSerialBackend() {
    close();
}

void HoldOffSerialBackend::open(const std::string& device, const LineSettings& settings) {
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES) throw serialError(SerialFailure::PermissionDenied, device);
        throw serialError(err == ENOENT ? SerialFailure::Missing : SerialFailure::Other, device,
                          std::strerror(err));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw serialError(SerialFailure::Busy, device);
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    device_ = device;
    lost_ = false;
    buffer_.clear();
    readPos_ = 0;
    try {
        configure(settings);
    } catch (...) {
        close();
        throw;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readable(); });
}

void HoldOffSerialBackend::configure(const LineSettings& s) {
    if (fd_ < 0) return;
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) throw serialError(SerialFailure::Other, device_);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, speedOf(s.baud));
    ::cfsetospeed(&tio, speedOf(s.baud));
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
    if (s.stopBits != 10) tio.c_cflag |= CSTOPB;
    if (s.parity == 'E' || s.parity == 'O') tio.c_cflag |= PARENB;
    if (s.parity == 'O') tio.c_cflag |= PARODD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) throw serialError(SerialFailure::Other, device_);
}

void HoldOffSerialBackend::dropNotifier() {
    // The control may close the port from inside the notifier's own signal.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
}

void HoldOffSerialBackend::close() {
    timer_->stop();
    dropNotifier();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    lost_ = false;
    buffer_.clear();
    readPos_ = 0;
}

std::string HoldOffSerialBackend::read(std::size_t max) {
    const std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    }
    return out;
}

bool HoldOffSerialBackend::drain(std::size_t& got) {
    got = 0;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        markLost(n == 0 ? "end of file" : std::strerror(errno));
        return false;
    }
}

void HoldOffSerialBackend::notify() {
    if (listener_ != nullptr && bytesAvailable() > 0) listener_->bytesArrived();
}

void HoldOffSerialBackend::readable() {
    std::size_t got = 0;
    if (fd_ < 0 || !drain(got)) return;
    notifier_->setEnabled(false);
    timer_->start(holdOff_);
    notify();
}

void HoldOffSerialBackend::holdOffOver() {
    if (fd_ < 0) return;
    std::size_t got = 0;
    if (!drain(got)) return;
    if (got > 0) {
        timer_->start(holdOff_);
    } else {
        notifier_->setEnabled(true);  // quiet: wait for the next byte
    }
    notify();
}

void HoldOffSerialBackend::markLost(const std::string& why) {
    timer_->stop();
    dropNotifier();
    ::close(fd_);
    fd_ = -1;
    lost_ = true;  // stays "open" with the bytes already taken until closed
    if (listener_ != nullptr) listener_->deviceLost(serialError(SerialFailure::Lost, device_, why));
}

}  // namespace vantor::bench
