#include "port_search.h"

#include <glob.h>
#include <vantor/port_list.h>
#include <vantor/qt_platform.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace vantor::ports {

namespace {

// Line noise before a meter's first frame is no use to anybody.
constexpr std::size_t kMaxSearchBytes = 4096;

struct Candidate;

class Watch : public SerialBackend::Listener {
  public:
    Watch(Candidate& c, Candidate*& winner) : c_(c), winner_(winner) {}
    void bytesArrived() override;
    void deviceLost(const RuntimeError&) override;

  private:
    Candidate& c_;
    Candidate*& winner_;
};

struct Candidate {
    std::string device;
    std::unique_ptr<SerialBackend> backend;
    std::string bytes;
    std::unique_ptr<Watch> watch;
    bool lost = false;
};

void Watch::bytesArrived() {
    if (c_.lost || winner_ != nullptr) return;
    c_.bytes += c_.backend->read(c_.backend->bytesAvailable());
    if (holdsFrame(c_.bytes)) {
        winner_ = &c_;
    } else if (c_.bytes.size() > kMaxSearchBytes) {
        c_.bytes.erase(0, c_.bytes.size() - 16);
    }
}

void Watch::deviceLost(const RuntimeError&) {
    c_.lost = true;
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

}  // namespace

std::vector<std::string> portsMatching(const std::vector<std::string>& patterns, bool quiet) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    auto add = [&](const std::string& device) {
        if (seen.insert(realPath(device)).second) out.push_back(device);
    };
    for (const std::string& pattern : patterns) {
        if (pattern == "auto") {
            // Scans again and again (the station's) look at the lock files only.
            for (const SerialPortEntry& p : listSerialPorts(!quiet)) {
                if (p.busy) {
                    if (!quiet)
                        std::fprintf(stderr, "left alone: %s, %s\n", p.device.c_str(),
                                     p.busyBy.c_str());
                } else {
                    add(p.device);
                }
            }
            continue;
        }
        glob_t found{};
        if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) add(found.gl_pathv[i]);
        }
        ::globfree(&found);
    }
    return out;
}

void FoundPort::expect(std::size_t bytes) {
    if (port_) port_->expect(bytes);
}

FoundPort::~FoundPort() {
    ++*generation_;
}

void FoundPort::found(std::unique_ptr<SerialBackend> port, std::string pending,
                      std::string device) {
    port_ = std::move(port);
    pending_ = std::move(pending);
    device_ = std::move(device);
    port_->setListener(this);
}

void FoundPort::open(const std::string& device, const LineSettings& settings) {
    if (!port_ || device != device_) {
        // A port named, not found: an ordinary one.
        pending_.clear();
        port_.reset();
        auto port = qtSerialBackend();
        port->setListener(this);
        port->open(device, settings);
        port_ = std::move(port);
        device_ = device;
        opened_ = true;
        return;
    }
    opened_ = true;
    if (port_->isOpen()) {
        port_->configure(settings);
    } else {
        port_->open(device_, settings);
    }
    if (pending_.empty()) return;
    // Like a line's, the bytes arrive after the opening call has returned.
    std::weak_ptr<int> generation = generation_;
    loop_.post([this, generation] {
        if (generation.lock() && listener_ != nullptr && !pending_.empty()) {
            listener_->bytesArrived();
        }
    });
}

void FoundPort::configure(const LineSettings& settings) {
    if (port_) port_->configure(settings);
}

void FoundPort::close() {
    opened_ = false;
    pending_.clear();
    if (port_) port_->close();
}

bool FoundPort::isOpen() const {
    // Bytes read before the port went away are still the meter's to take.
    return opened_ && port_ && (port_->isOpen() || !pending_.empty());
}

std::size_t FoundPort::bytesAvailable() {
    return pending_.size() + (port_ && port_->isOpen() ? port_->bytesAvailable() : 0);
}

std::string FoundPort::read(std::size_t max) {
    if (pending_.empty()) return port_ ? port_->read(max) : std::string();
    std::string out = pending_.substr(0, std::min(max, pending_.size()));
    pending_.erase(0, out.size());
    if (out.size() < max && port_->isOpen() && port_->bytesAvailable() > 0) {
        out += port_->read(max - out.size());
    }
    return out;
}

void FoundPort::bytesArrived() {
    if (listener_ != nullptr) listener_->bytesArrived();
}

void FoundPort::deviceLost(const RuntimeError& error) {
    if (listener_ == nullptr) return;
    // What came before the loss is the meter's: it is read first.
    if (!pending_.empty()) listener_->bytesArrived();
    listener_->deviceLost(error);
}

std::optional<std::string> findMeter(const std::vector<std::string>& devices, MessageLoop& loop,
                                     FoundPort& into,
                                     std::optional<std::chrono::milliseconds> timeout,
                                     const std::function<bool()>& stop, bool& opened) {
    std::vector<std::unique_ptr<Candidate>> candidates;
    Candidate* winner = nullptr;
    std::string armed;
    for (const std::string& device : devices) {
        auto c = std::make_unique<Candidate>();
        c->device = device;
        c->watch = std::make_unique<Watch>(*c, winner);
        try {
            c->backend = qtSerialBackend();
            c->backend->setListener(c->watch.get());
            c->backend->open(device, LineSettings{});
        } catch (const RuntimeError& e) {
            std::fprintf(stderr, "left out: %s\n", e.description().c_str());
            continue;
        }
        armed += (armed.empty() ? "" : ", ") + device;
        candidates.push_back(std::move(c));
    }
    opened = !candidates.empty();
    if (!opened) return std::nullopt;
    std::fprintf(stderr, "waiting for a meter on %zu port%s: %s; press SEND on the meter\n",
                 candidates.size(), candidates.size() == 1 ? "" : "s", armed.c_str());

    const auto deadline = loop.now() + timeout.value_or(std::chrono::milliseconds(0));
    while (winner == nullptr && !stop()) {
        if (timeout && loop.now() >= deadline) break;
        if (std::all_of(candidates.begin(), candidates.end(),
                        [](const auto& c) { return c->lost; })) {
            break;
        }
        loop.waitForEvents(std::chrono::milliseconds(200));
    }
    // The others are released at once.
    for (auto& c : candidates) {
        if (c.get() != winner) c->backend->close();
    }
    if (winner == nullptr) return std::nullopt;
    std::fprintf(stderr, "the meter is on %s\n", winner->device.c_str());
    into.found(std::move(winner->backend), std::move(winner->bytes), winner->device);
    return winner->device;
}

}  // namespace vantor::ports
