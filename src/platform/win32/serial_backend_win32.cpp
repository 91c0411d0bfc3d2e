#include "platform/win32/serial_backend_win32.h"

#include <algorithm>

#include "platform/serial_errors.h"
#include "platform/win32/port_name_win32.h"
#include "platform/win32/serial_errors_win32.h"

namespace vantor {

namespace {

// How long a read waits on a quiet line: also how soon close() has the
// reader back, and how soon a tail shorter than expected is reported.
constexpr DWORD kReadWait = 50;

void applySettings(DCB& dcb, const LineSettings& s) {
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    switch (s.parity) {
        case 'E':
            dcb.Parity = EVENPARITY;
            break;
        case 'O':
            dcb.Parity = ODDPARITY;
            break;
        case 'M':
            dcb.Parity = MARKPARITY;
            break;
        case 'S':
            dcb.Parity = SPACEPARITY;
            break;
        default:
            dcb.Parity = NOPARITY;
            break;
    }
    dcb.StopBits = s.stopBits == 20 ? TWOSTOPBITS : s.stopBits == 15 ? ONE5STOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity == 'N' ? FALSE : TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

}  // namespace

Win32SerialBackend::Win32SerialBackend(std::shared_ptr<Win32MessageLoop> loop)
    : loop_(std::move(loop)), anchor_(std::make_shared<Anchor>(Anchor{this})) {}

Win32SerialBackend::~Win32SerialBackend() {
    close();
}

void Win32SerialBackend::open(const std::string& device, const LineSettings& settings) {
    close();
    const Win32PortName name = win32PortName(device);
    const std::string& shown = name.shown;

    HANDLE claim = ::CreateMutexW(nullptr, FALSE, portClaimName(name).c_str());
    if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claim);
        throw serialError(SerialFailure::Busy, shown, "held by another download");
    }
    auto dropClaim = [&] {
        if (claim != nullptr) ::CloseHandle(claim);
    };

    HANDLE port = ::CreateFileW(name.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        dropClaim();
        throw serialOpenError(error, shown, name.comPort);
    }
    auto fail = [&](const RuntimeError& error) {
        ::CloseHandle(port);
        dropClaim();
        throw error;
    };
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        fail(serialError(SerialFailure::Other, shown,
                         "not a serial port: " + systemText(::GetLastError())));
    }
    applySettings(dcb, settings);
    if (!::SetCommState(port, &dcb)) {
        fail(RuntimeError(kErrInvalidProperty, "Invalid property value: " + shown +
                                                   " rejects the line settings (" +
                                                   systemText(::GetLastError()) + ")"));
    }
    // Whatever has come, at once; else the first byte, or nothing after kReadWait.
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, kReadWait, 0, 0};
    if (!::SetCommTimeouts(port, &timeouts)) {
        fail(serialError(SerialFailure::Other, shown, systemText(::GetLastError())));
    }
    ::SetupComm(port, 4096, 4096);
    // What the meter sent before the port was opened is kept: no purge.

    auto line = std::make_shared<Line>();
    line->port = port;
    try {
        reader_ = std::thread(&Win32SerialBackend::readLoop, line, loop_.get(),
                              std::weak_ptr<Anchor>(anchor_));
    } catch (const std::system_error& e) {
        fail(serialError(SerialFailure::Other, shown, e.what()));
    }
    line_ = std::move(line);
    claim_ = claim;
    device_ = shown;
    lost_ = false;
    buffer_.clear();
    readPos_ = 0;
}

void Win32SerialBackend::readLoop(std::shared_ptr<Line> line, Win32MessageLoop* loop,
                                  std::weak_ptr<Anchor> anchor) {
    const Line* key = line.get();
    auto lost = [&](DWORD error) {
        loop->post([anchor, key, error] {
            if (auto a = anchor.lock()) a->self->failed(key, error);
        });
    };
    auto notify = [&] {
        // Called with the mutex held: one notification on its way at a time.
        line->notified = true;
        loop->post([anchor, key] {
            if (auto a = anchor.lock()) a->self->delivered(key);
        });
    };
    char bytes[4096];
    while (!line->stop) {
        DWORD got = 0;
        if (!::ReadFile(line->port, bytes, sizeof bytes, &got, nullptr)) {
            if (!line->stop) lost(::GetLastError());
            return;
        }
        if (got == 0) {
            // A quiet line. A pseudo-terminal whose other end has gone reads
            // as quiet under Wine; only its status says it is gone.
            DWORD errors = 0;
            COMSTAT status{};
            if (!::ClearCommError(line->port, &errors, &status)) {
                if (!line->stop) lost(::GetLastError());
                return;
            }
            std::lock_guard lock(line->mutex);
            if (!line->notified && !line->inbox.empty()) notify();
            continue;
        }
        std::lock_guard lock(line->mutex);
        line->inbox.append(bytes, got);
        if (!line->notified && line->inbox.size() >= line->expected) notify();
    }
}

void Win32SerialBackend::delivered(const Line* line) {
    if (line != line_.get()) return;
    {
        std::lock_guard lock(line_->mutex);
        line_->notified = false;
    }
    if (listener_ != nullptr && bytesAvailable() > 0) listener_->bytesArrived();
}

void Win32SerialBackend::failed(const Line* line, DWORD error) {
    if (line != line_.get()) return;
    // Keep what had arrived, and let go of the dead device at once.
    take();
    release();
    lost_ = true;
    if (listener_ != nullptr) listener_->deviceLost(serialLostError(error, device_));
}

void Win32SerialBackend::take() {
    if (!line_) return;
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    }
    std::lock_guard lock(line_->mutex);
    buffer_ += line_->inbox;
    line_->inbox.clear();
}

void Win32SerialBackend::release() {
    if (line_) {
        line_->stop = true;
        // Back within kReadWait: its read returns then, if no byte comes first.
        if (reader_.joinable()) reader_.join();
        ::CloseHandle(line_->port);
        line_.reset();
    }
    if (claim_ != nullptr) {
        ::CloseHandle(claim_);
        claim_ = nullptr;
    }
}

void Win32SerialBackend::configure(const LineSettings& settings) {
    if (!line_) return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(line_->port, &dcb)) {
        applySettings(dcb, settings);
        if (::SetCommState(line_->port, &dcb)) return;
    }
    throw RuntimeError(kErrInvalidProperty, "Invalid property value: " + device_ +
                                                " rejects the line settings (" +
                                                systemText(::GetLastError()) + ")");
}

void Win32SerialBackend::close() {
    release();
    lost_ = false;
    buffer_.clear();
    readPos_ = 0;
}

std::size_t Win32SerialBackend::bytesAvailable() {
    take();
    return buffer_.size() - readPos_;
}

std::string Win32SerialBackend::read(std::size_t max) {
    const std::size_t n = std::min(max, bytesAvailable());
    std::string out = buffer_.substr(readPos_, n);
    readPos_ += n;
    return out;
}

void Win32SerialBackend::expect(std::size_t bytes) {
    if (line_) line_->expected = std::max<std::size_t>(bytes, 1);
}

}  // namespace vantor
