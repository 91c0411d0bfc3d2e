#include "platform/qt/serial_backend_qt.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/serial_errors.h"

namespace vantor {

QtSerialBackend::QtSerialBackend(std::chrono::milliseconds holdOff)
    : port_(std::make_unique<QSerialPort>()),
      holdTimer_(std::make_unique<QTimer>()),
      holdOff_(holdOff) {
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
    holding_ = false;
    lost_ = true;
    port_->close();
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
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) {
        int err = errno;
        if (err == EACCES) throw serialError(SerialFailure::PermissionDenied, device);
        throw serialError(SerialFailure::Missing, device, std::strerror(err));
    }
    if (::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        throw serialError(SerialFailure::PermissionDenied, device);
    }
    device_ = device;
    lost_ = false;
    holding_ = false;
    buffer_.clear();
    readPos_ = 0;
    port_->setReadBufferSize(holdOff_.count() > 0 ? 1 : 0);
    port_->setPortName(QString::fromStdString(device));
    if (!port_->open(QIODevice::ReadWrite)) {
        auto error = port_->error();
        std::string text = port_->errorString().toStdString();
        port_->clearError();
        switch (error) {
            case QSerialPort::DeviceNotFoundError:
                throw serialError(SerialFailure::Missing, device, text);
            case QSerialPort::PermissionError:
                // Access was checked above: another program holds the port.
                throw serialError(SerialFailure::Busy, device, text);
            default:
                throw serialError(SerialFailure::Other, device, text);
        }
    }
    // Keep other programs (and other controls) off the port while it is ours.
    int fd = static_cast<int>(port_->handle());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        port_->close();
        throw serialError(SerialFailure::Busy, device);
    }
    ::ioctl(fd, TIOCEXCL);
    try {
        configure(settings);
    } catch (...) {
        port_->close();
        throw;
    }
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
    holding_ = false;
    if (port_->isOpen()) port_->close();
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

std::string QtSerialBackend::read(std::size_t max) {
    std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    return out;
}

}  // namespace vantor
