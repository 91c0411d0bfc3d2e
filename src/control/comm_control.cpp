#include "control/comm_control.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "platform/port_device.h"

namespace vantor {

std::string PortMap::device(Integer port) const {
    auto it = devices_.find(port);
    if (it != devices_.end()) return it->second;
    return defaultPortDevice(port);
}

LineSettings parseLineSettings(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        auto b = part.find_first_not_of(' ');
        auto e = part.find_last_not_of(' ');
        parts.push_back(b == std::string::npos ? "" : part.substr(b, e - b + 1));
    }
    const RuntimeError bad(kErrInvalidProperty);
    if (parts.size() != 4 || text.back() == ',') throw bad;

    LineSettings s;
    const std::string& baud = parts[0];
    if (baud.empty() || baud.size() > 7 ||
        !std::all_of(baud.begin(), baud.end(), [](unsigned char c) { return std::isdigit(c); })) {
        throw bad;
    }
    s.baud = std::stoi(baud);
    if (s.baud <= 0) throw bad;

    if (parts[1].size() != 1) throw bad;
    s.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
    if (std::string("NEOMS").find(s.parity) == std::string::npos) throw bad;

    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') throw bad;
    s.dataBits = parts[2][0] - '0';

    if (parts[3] == "1") {
        s.stopBits = 10;
    } else if (parts[3] == "1.5") {
        s.stopBits = 15;
    } else if (parts[3] == "2") {
        s.stopBits = 20;
    } else {
        throw bad;
    }
    return s;
}

CommControl::CommControl(std::unique_ptr<SerialBackend> backend) : backend_(std::move(backend)) {
    backend_->setListener(this);
}

CommControl::~CommControl() {
    backend_->setListener(nullptr);
    if (backend_->isOpen()) backend_->close();
}

void CommControl::setCommPort(Integer port) {
    if (port < 1) throw RuntimeError(kErrPortInvalid);
    commPort_ = port;
}

void CommControl::setSettings(const std::string& settings) {
    LineSettings parsed = parseLineSettings(settings);
    if (backend_->isOpen()) backend_->configure(parsed);
    line_ = parsed;
    settings_ = settings;
}

void CommControl::setInputMode(Integer mode) {
    if (mode != comInputModeBinary) throw RuntimeError(kErrInvalidProperty);
}

void CommControl::setInputLen(Integer len) {
    if (len < 0) throw RuntimeError(kErrInvalidProperty);
    inputLen_ = len;
}

void CommControl::setRThreshold(Integer threshold) {
    if (threshold < 0) throw RuntimeError(kErrInvalidProperty);
    rThreshold_ = threshold;
}

void CommControl::setPortOpen(Boolean open) {
    if (open) {
        if (backend_->isOpen()) {
            throw RuntimeError(kErrPortAlreadyOpen, "Port already open: " + deviceName());
        }
        lostReason_.clear();
        backend_->open(deviceName(), line_);
    } else if (backend_->isOpen()) {
        backend_->close();
    }
}

void CommControl::requireOpen() const {
    if (!backend_->isOpen()) throw RuntimeError(kErrPortNotOpen);
}

std::string CommControl::Input() {
    requireOpen();
    std::size_t waiting = backend_->bytesAvailable();
    std::size_t n = inputLen_ == 0 ? waiting : std::min<std::size_t>(waiting, inputLen_);
    return n == 0 ? std::string() : backend_->read(n);
}

Long CommControl::InBufferCount() {
    requireOpen();
    return static_cast<Long>(std::min<std::size_t>(backend_->bytesAvailable(), 0x7fffffff));
}

void CommControl::raise(Integer event) {
    commEvent_ = event;
    if (OnComm) OnComm();
}

void CommControl::bytesArrived() {
    if (inEvent_) {
        // A handler that let the message loop run; deliver after it returns.
        eventPending_ = true;
        return;
    }
    inEvent_ = true;
    do {
        eventPending_ = false;
        if (rThreshold_ > 0 && backend_->isOpen() &&
            backend_->bytesAvailable() >= static_cast<std::size_t>(rThreshold_)) {
            raise(comEvReceive);
        }
    } while (eventPending_);
    inEvent_ = false;
}

void CommControl::deviceLost(const RuntimeError& error) {
    lostReason_ = error.description();
    // Bytes that came before the loss are still delivered first.
    bytesArrived();
    raise(comEvDeviceLost);
}

}  // namespace vantor
