#include "platform/qt/serial_backend_qt.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QSerialPort>
#include <QTimer>
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
    : port_(std::make_unique<QSerialPort>()),
      holdTimer_(std::make_unique<QTimer>()),
      tail_(std::make_unique<QTimer>()),
      holdOff_(holdOff) {
    tail_->setSingleShot(true);
    // Whatever waits is reported now; the reader asks for more afterwards.
    QObject::connect(tail_.get(), &QTimer::timeout, port_.get(), [this] { setMinimum(1); });
    holdTimer_->setSingleShot(true);
    holdTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(holdTimer_.get(), &QTimer::timeout, port_.get(), [this] { holdOffOver(); });
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { readyRead(); });
    QObject::connect(
        port_.get(), &QSerialPort::errorOccurred, port_.get(),
        [this](QSerialPort::SerialPortError error) {
            // A hung-up or unplugged device shows as a failed or empty read.
            if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || lost_ ||
                !port_->isOpen()) {
                return;
            }
            markLost(port_->errorString().toStdString());
        });
}

QtSerialBackend::~QtSerialBackend() {
    close();
}

void QtSerialBackend::markLost(const std::string& why) {
    // Keep what had arrived, and let go of the dead device at once: its
    // notifier would otherwise fire without end.
    take();
    holdTimer_->stop();
    tail_->stop();
    holding_ = false;
    lost_ = true;
    release();
    port_->clearError();
    if (listener_ != nullptr) listener_->deviceLost(serialError(SerialFailure::Lost, device_, why));
}

std::size_t QtSerialBackend::take() {
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    }
    QByteArray bytes = port_->readAll();
    buffer_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return static_cast<std::size_t>(bytes.size());
}

void QtSerialBackend::notify() {
    if (listener_ != nullptr && bytesAvailable() > 0) listener_->bytesArrived();
}

void QtSerialBackend::readyRead() {
    // While holding, QSerialPort's full one-byte buffer keeps the line unwatched.
    if (holding_ || lost_) return;
    take();
    if (holdOff_.count() > 0) {
        holding_ = true;
        holdTimer_->start(holdOff_);
    }
    notify();
}

void QtSerialBackend::holdOffOver() {
    if (!port_->isOpen()) return;
    port_->setReadBufferSize(0);
    port_->waitForReadyRead(0);  // everything the line holds, in one read
    std::size_t got = take();
    port_->setReadBufferSize(1);
    if (got > 0) {
        holdTimer_->start(holdOff_);
    } else {
        holding_ = false;  // quiet: the next byte is reported at once
    }
    notify();
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
    buffer_.clear();
    readPos_ = 0;
    port_->setReadBufferSize(holdOff_.count() > 0 ? 1 : 0);
    // The real name, so that QSerialPort's lock file is the one checked above.
    port_->setPortName(QString::fromStdString(real));
    if (!port_->open(QIODevice::ReadWrite)) {
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
    ::ioctl(fd, TIOCEXCL);
    try {
        configure(settings);
    } catch (...) {
        release();
        throw;
    }
}

void QtSerialBackend::release() {
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
}

void QtSerialBackend::close() {
    holdTimer_->stop();
    tail_->stop();
    holding_ = false;
    release();
    lost_ = false;
    buffer_.clear();
    readPos_ = 0;
}

bool QtSerialBackend::isOpen() const {
    return lost_ || port_->isOpen();
}

std::size_t QtSerialBackend::bytesAvailable() {
    // Bytes still in QSerialPort (the first of a burst) count as waiting too.
    if (!lost_ && port_->isOpen() && port_->bytesAvailable() > 0 && !holding_) take();
    return buffer_.size() - readPos_;
}

void QtSerialBackend::expect(std::size_t bytes) {
    // The hold-off reads in bursts of its own.
    if (holdOff_.count() > 0 || lost_ || !port_->isOpen()) return;
    setMinimum(bytes);
    if (minimum_ > 1) tail_->start(kTail);
}

void QtSerialBackend::setMinimum(std::size_t bytes) {
    bytes = std::clamp<std::size_t>(bytes, 1, 255);
    if (bytes == minimum_ || !port_->isOpen()) return;
    const int fd = static_cast<int>(port_->handle());
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return;
    // VTIME 0: with a timer the kernel would report every byte again.
    tio.c_cc[VMIN] = static_cast<cc_t>(bytes);
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) == 0) minimum_ = bytes;
}

std::string QtSerialBackend::read(std::size_t max) {
    std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    return out;
}

}  // namespace vantor
