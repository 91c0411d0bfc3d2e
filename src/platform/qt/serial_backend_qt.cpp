#include "platform/qt/serial_backend_qt.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QSerialPort>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

#include "platform/qt/uucp_lock.h"
#include "platform/serial_errors.h"

namespace vantor {

namespace {

// Longer than a frame takes at 9600 baud (17 ms), short against a person.
constexpr std::chrono::milliseconds kTail(60);

// Frames a line that outran its speed is watched throughout: about a second
// of a paced one.
constexpr int kDistrust = 16;
// Bytes beyond the line's speed that a meter catching up on its own pace,
// or a reader woken late, may bring: two frames.
constexpr std::size_t kLate = 32;

// Devices open in some backend of this process. A lock file with our own pid
// is live only if one of them holds it; otherwise it is left from a dead
// process whose pid we got.
std::mutex heldMutex;
std::set<std::string> held;

// Left to itself QSerialPort would read a bare name as /dev/NAME and a
// relative path against /dev as well.
std::string absolutePath(const std::string& name) {
    struct stat st {};
    if (name.find('/') == std::string::npos && ::lstat(name.c_str(), &st) != 0) {
        return "/dev/" + name;
    }
    std::error_code ec;
    auto path = std::filesystem::absolute(name, ec);
    return ec ? name : path.string();
}

bool alive(pid_t pid) {
    // Our own pid counts only through `held`, asked before: otherwise the file
    // is left from a dead process whose pid we got.
    if (pid == ::getpid()) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Refuses the port while another program's lock is live and removes a stale
// one. QSerialPort must never see a live one: it takes a uucp lock, which
// names no program, for stale and deletes it.
void checkLock(const std::string& shown, const std::string& real) {
    const std::string path = lockPath(real);
    for (int round = 0; round < 3; ++round) {
        struct stat judged {};
        if (::lstat(path.c_str(), &judged) != 0) return;
        // Anything but a plain file here is garbage, and a FIFO must not block us.
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        std::optional<pid_t> owner;
        if (fd >= 0) {
            char bytes[64];
            ssize_t n = -1;
            struct stat opened {};
            if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                opened.st_ino == judged.st_ino && opened.st_dev == judged.st_dev) {
                n = ::read(fd, bytes, sizeof bytes);
            }
            if (n > 0) owner = lockOwner(std::string_view(bytes, static_cast<std::size_t>(n)));
            ::close(fd);
        }
        if (owner && alive(*owner)) {
            throw serialError(SerialFailure::Busy, shown,
                              "process " + std::to_string(*owner) + " holds " + path);
        }
        // Only the file just judged goes, not one another program made since.
        struct stat now {};
        if (::lstat(path.c_str(), &now) != 0) return;
        if (now.st_dev != judged.st_dev || now.st_ino != judged.st_ino) continue;
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) return;
        const std::string why = std::strerror(errno);
        // QSerialPort would fail on it as well, and say less.
        throw serialError(
            SerialFailure::Other, shown,
            "the stale lock " + path + " cannot be removed: " + why + "; remove it as root");
    }
    throw serialError(SerialFailure::Busy, shown, "other programs keep replacing " + path);
}

}  // namespace

QtSerialBackend::QtSerialBackend(std::chrono::milliseconds holdOff)
    : port_(std::make_unique<QSerialPort>()), holdOff_(holdOff) {}

QtSerialBackend::~QtSerialBackend() {
    close();
}

void QtSerialBackend::markLost(const std::string& why) {
    // Let go of the dead device at once: its hang-up would otherwise be
    // reported without end.
    release();
    lost_ = true;
    if (listener_ != nullptr) listener_->deviceLost(serialError(SerialFailure::Lost, device_, why));
}

bool QtSerialBackend::drain(std::size_t& got, std::size_t most) {
    got = 0;
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    }
    char bytes[4096];
    for (;;) {
        errno = 0;
        const std::size_t ask = std::min(sizeof bytes, most - got);
        const ssize_t n = ::read(fd_, bytes, ask);
        if (n > 0) {
            buffer_.append(bytes, static_cast<std::size_t>(n));
            got += static_cast<std::size_t>(n);
            if (static_cast<std::size_t>(n) < ask || got == most) return true;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
}

bool QtSerialBackend::ready() {
    pollfd line{fd_, POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && line.revents != 0;
}

void QtSerialBackend::notify() {
    if (listener_ == nullptr || bytesAvailable() == 0) return;
    drained_ = true;
    listener_->bytesArrived();
    drained_ = false;
}

void QtSerialBackend::watchInput(bool reading) {
    if (reading == reading_ || !watch_) return;
    reading_ = reading;
    watch_->setReading(handle_, reading);
}

void QtSerialBackend::schedule() {
    if (watch_) watch_->due(handle_, std::min(wakeAt_, tailAt_));
}

void QtSerialBackend::readable() {
    take(SIZE_MAX);
}

void QtSerialBackend::take(std::size_t most) {
    if (lost_ || fd_ < 0) return;
    std::size_t got = 0;
    if (!drain(got, most)) {
        hungUp();
        return;
    }
    const auto now = Clock::now();
    if (got > 0 && holdOff_.count() == 0) {
        // More than the line's speed can bring since it was last emptied,
        // with a few bytes for a late reader: a pseudo-terminal written in
        // bursts or an adapter's packets, which wake a reader once a burst
        // anyway. Such a line is watched throughout for a while.
        const auto since = static_cast<std::size_t>((now - lastRead_) / byteTime_);
        if (got > since + kLate) distrust_ = kDistrust;
        lastRead_ = now;
    }
    if (got > 0 && holdOff_.count() > 0 && !holding_) {
        holding_ = true;
        watchInput(false);
        wakeAt_ = now + holdOff_;
        schedule();
    }
    notify();
}

void QtSerialBackend::hungUp() {
    if (lost_ || fd_ < 0) return;
    // A hang-up empties the line: what it still holds is read first.
    std::size_t got = 0;
    drain(got);
    const int err = errno;
    // A hung-up line reads as its end. For that QSerialPort, the reader
    // before this one, gave ENOTTY's words, and logs are matched on them.
    markLost(std::strerror(err == 0 || err == EAGAIN || err == EWOULDBLOCK ? ENOTTY : err));
}

void QtSerialBackend::dueNow() {
    if (lost_ || fd_ < 0) return;
    // The watch may call a little early: what was asked for counts as due.
    const auto at = std::min(wakeAt_, tailAt_);
    if (holding_) {
        std::size_t got = 0;
        if (!drain(got)) {
            hungUp();
            return;
        }
        if (got > 0) {
            wakeAt_ = Clock::now() + holdOff_;
        } else {
            // Quiet: the next byte is reported at once.
            holding_ = false;
            wakeAt_ = Clock::time_point::max();
            watchInput(true);
        }
        schedule();
        notify();
        return;
    }
    bool tail = false;
    if (tailAt_ <= at) {
        tailAt_ = Clock::time_point::max();
        // Whatever waits is reported now; the reader asks for more afterwards.
        setMinimum(1);
        watchInput(true);
        tail = true;
    }
    if (wakeAt_ <= at) {
        wakeAt_ = Clock::time_point::max();
        int waiting = 0;
        bool taken = false;
        // Whole frames only, one at a time, so that every read ends where a
        // frame does, as when VMIN alone waits: a read that ran into the next
        // frame could end a transfer before its last byte, which would then
        // open a download of its own.
        // Frames that came while the reader was busy are all taken now; one
        // count serves them all, as what comes meanwhile has a wakeup of its own.
        if (::ioctl(fd_, FIONREAD, &waiting) != 0) waiting = 0;
        while (static_cast<std::size_t>(waiting) >= minimum_) {
            const std::size_t frame = minimum_;
            onTime_ = true;
            take(frame);
            onTime_ = false;
            if (lost_ || fd_ < 0) return;
            taken = true;
            waiting -= static_cast<int>(frame);
            if (reading_ || wakeAt_ == Clock::time_point::max()) break;
        }
        if (taken) {
            // The reader did not say what it waits for (it is busy, or done):
            // the line is watched for what it last asked.
            if (wakeAt_ == Clock::time_point::max() && !reading_) {
                watchInput(true);
                if (minimum_ > 1) tailAt_ = Clock::now() + kTail;
            }
        } else if (static_cast<std::size_t>(waiting) > checked_) {
            // Not whole yet but moving (a meter behind its own pace): sleep
            // until the rest could be there. The reader is given whole frames
            // only, as when the line is watched throughout.
            checked_ = static_cast<std::size_t>(waiting);
            wholeAt_ = Clock::now() + static_cast<long>(minimum_ - checked_) * byteTime_;
            wakeAt_ = wholeAt_ + byteTime_ / 4;
        } else {
            // Stalled (a pause, a slower meter): the frame's last byte wakes
            // the line, as VMIN has it.
            watchInput(true);
            if (minimum_ > 1) tailAt_ = Clock::now() + kTail;
        }
    } else if (tail && ready()) {
        readable();
        if (lost_ || fd_ < 0) return;
    }
    schedule();
}

void QtSerialBackend::open(const std::string& device, const LineSettings& settings) {
    const std::string path = absolutePath(device);
    char* resolved = device.empty() ? nullptr : ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        int err = device.empty() ? ENOENT : errno;
        const std::string plain = std::filesystem::path(path).lexically_normal().string();
        const std::string shown = plain == device ? device : device + " (" + plain + ")";
        if (err == EACCES) throw serialError(SerialFailure::PermissionDenied, shown);
        throw serialError(SerialFailure::Missing, shown, err == ENOENT ? "" : std::strerror(err));
    }
    const std::string real(resolved);
    std::free(resolved);
    const std::string shown = real == device ? device : device + " (" + real + ")";
    if (::access(real.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        throw serialError(SerialFailure::PermissionDenied, shown);
    }
    {
        // Two backends of this process must not both judge the lock free.
        std::lock_guard lock(heldMutex);
        if (held.count(real) != 0) throw serialError(SerialFailure::Busy, shown);
        checkLock(shown, real);
        held.insert(real);
    }
    real_ = real;
    device_ = shown;
    lost_ = false;
    holding_ = false;
    minimum_ = 1;
    distrust_ = 0;
    buffer_.clear();
    readPos_ = 0;
    // The real name, so that QSerialPort's lock file is the one checked above.
    // Write-only, so that it does not watch the line: this backend reads it.
    port_->setPortName(QString::fromStdString(real));
    if (!port_->open(QIODevice::WriteOnly)) {
        auto error = port_->error();
        std::string text = port_->errorString().toStdString();
        port_->clearError();
        release();
        switch (error) {
            case QSerialPort::DeviceNotFoundError:
                throw serialError(SerialFailure::Missing, shown, text);
            case QSerialPort::PermissionError:
                // Access was checked above: another program holds the port.
                throw serialError(SerialFailure::Busy, shown, text);
            default:
                throw serialError(SerialFailure::Other, shown, text);
        }
    }
    // Keep other programs (and other controls) off the port while it is ours.
    int fd = static_cast<int>(port_->handle());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        release();
        throw serialError(SerialFailure::Busy, shown);
    }
    // Exclusive only once this backend's own reader is open as well.
    ::ioctl(fd, TIOCNXCL);
    fd_ = ::open(real.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int err = errno;
    ::ioctl(fd, TIOCEXCL);
    if (fd_ < 0) {
        release();
        throw serialError(SerialFailure::Other, shown, std::strerror(err));
    }
    try {
        configure(settings);
        watch_ = LineWatch::forThisThread();
        handle_ = watch_->add(this, fd_);
        reading_ = true;
        lastRead_ = Clock::now();
    } catch (const RuntimeError&) {
        release();
        throw;
    } catch (const std::exception& e) {
        release();
        throw serialError(SerialFailure::Other, shown, e.what());
    }
}

void QtSerialBackend::release() {
    if (watch_) watch_->remove(handle_);
    watch_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    holding_ = false;
    wakeAt_ = tailAt_ = Clock::time_point::max();
    if (port_->isOpen()) port_->close();
    if (real_.empty()) return;
    std::lock_guard lock(heldMutex);
    held.erase(real_);
    real_.clear();
}

void QtSerialBackend::configure(const LineSettings& s) {
    if (!port_->isOpen()) return;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s.parity) {
        case 'E':
            parity = QSerialPort::EvenParity;
            break;
        case 'O':
            parity = QSerialPort::OddParity;
            break;
        case 'M':
            parity = QSerialPort::MarkParity;
            break;
        case 'S':
            parity = QSerialPort::SpaceParity;
            break;
        default:
            break;
    }
    QSerialPort::StopBits stop = s.stopBits == 20   ? QSerialPort::TwoStop
                                 : s.stopBits == 15 ? QSerialPort::OneAndHalfStop
                                                    : QSerialPort::OneStop;
    bool ok = port_->setBaudRate(s.baud) &&
              port_->setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
              port_->setParity(parity) && port_->setStopBits(stop) &&
              port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        std::string text = port_->errorString().toStdString();
        port_->clearError();
        throw RuntimeError(kErrInvalidProperty, "Invalid property value: " + device_ +
                                                    " rejects the line settings (" + text + ")");
    }
    const int bits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + (s.stopBits + 9) / 10;
    byteTime_ = std::max(std::chrono::nanoseconds(1'000'000'000LL * bits / std::max(s.baud, 1)),
                         std::chrono::nanoseconds(1));
    // QSerialPort wrote its own termios over the line's VMIN.
    const std::size_t want = minimum_;
    minimum_ = 0;
    setMinimum(want);
}

void QtSerialBackend::close() {
    release();
    lost_ = false;
    buffer_.clear();
    readPos_ = 0;
}

bool QtSerialBackend::isOpen() const {
    return lost_ || fd_ >= 0;
}

std::size_t QtSerialBackend::bytesAvailable() {
    return buffer_.size() - readPos_;
}

void QtSerialBackend::expect(std::size_t bytes) {
    // The hold-off reads in bursts of its own.
    if (holdOff_.count() > 0 || lost_ || fd_ < 0) return;
    setMinimum(bytes);
    const auto now = Clock::now();
    wakeAt_ = tailAt_ = Clock::time_point::max();
    checked_ = 0;
    if (minimum_ > 1 && drained_ && distrust_ == 0) {
        // The line is read once the frame could be whole: at its speed, with
        // a quarter of a byte to spare. Until then it is out of the watch's
        // input interest (a hang-up is still seen at once). Counted from when
        // the last frame was due rather than from a late read of it, so that
        // a busy reader's lateness is not carried into the next frame.
        const auto from = onTime_ ? std::min(now, wholeAt_) : now;
        wholeAt_ = from + static_cast<long>(minimum_) * byteTime_;
        wakeAt_ = wholeAt_ + byteTime_ / 4;
        watchInput(false);
    } else {
        if (distrust_ > 0) --distrust_;
        if (minimum_ > 1) tailAt_ = now + kTail;
        watchInput(true);
    }
    schedule();
}

void QtSerialBackend::setMinimum(std::size_t bytes) {
    bytes = std::clamp<std::size_t>(bytes, 1, 255);
    if (bytes == minimum_ || fd_ < 0) return;
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return;
    // VTIME 0: with a timer the kernel would report every byte again.
    tio.c_cc[VMIN] = static_cast<cc_t>(bytes);
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) == 0) minimum_ = bytes;
}

std::string QtSerialBackend::read(std::size_t max) {
    std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    return out;
}

}  // namespace vantor
