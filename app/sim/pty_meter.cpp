#include "sim/pty_meter.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <system_error>

namespace vantor::sim {
namespace {

using Clock = std::chrono::steady_clock;

// 9600 baud, 10 bits a byte: 1e10 / 9600 ns = 3125000 / 3 ns per byte. Rounded up so a byte
// is due by bytesDueAfter() once its deadline has passed.
Clock::duration lineTime(std::size_t bytes) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds((static_cast<std::int64_t>(bytes) * 3125000 + 2) / 3));
}

std::size_t bytesDueAfter(Clock::duration elapsed) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    return ns < 0 ? 0 : static_cast<std::size_t>(ns * 3 / 3125000) + 1;
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Poll slice while waiting for something poll() cannot wait for (the peer opening the slave,
// buffer space while nobody has the slave open); also bounds how long stop() takes.
constexpr int kSliceMs = 5;

// Letters and digits for a temporary name nobody can guess ahead.
std::string randomSuffix() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937_64 engine{std::random_device{}()};
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string out(10, ' ');
    for (char& c : out) c = kChars[pick(engine)];
    return out;
}

}  // namespace

PtyMeter::PtyMeter() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throwErrno("posix_openpt");
    auto fail = [this](const std::string& what) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        errno = err;
        throwErrno(what);
    };
    if (::grantpt(fd_) != 0) fail("grantpt");
    if (::unlockpt(fd_) != 0) fail("unlockpt");
    char name[128];
    if (::ptsname_r(fd_, name, sizeof name) != 0) fail("ptsname_r");
    device_ = name;

    // Raw at once: termios set through the master applies to the slave's line discipline, so
    // frames queued before the downloader configures the port are neither echoed nor
    // translated (CR would otherwise turn into LF).
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) fail("tcgetattr " + device_);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) fail("tcsetattr " + device_);

    // A master whose slave was never opened does not report POLLHUP; one open and close
    // makes "POLLHUP = nobody has the slave open" hold from the start.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) fail("open " + device_);
    ::close(slave);

    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl " + device_);
}

PtyMeter::~PtyMeter() {
    hangUp();
    for (const std::string& path : links_) {
        char target[256];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == device_) {
            ::unlink(path.c_str());
        }
    }
}

void PtyMeter::link(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::system_error(EEXIST, std::generic_category(),
                                "link " + path + ": exists and is not a symbolic link");
    }
    // Made under a fresh name beside `path` and renamed over it, so the path never dangles
    // or goes missing, and no file of anyone else's is touched on the way.
    std::string temp;
    for (int attempt = 0;; ++attempt) {
        temp = path + ".tmp-" + randomSuffix();
        if (::symlink(device_.c_str(), temp.c_str()) == 0) break;
        if (errno != EEXIST || attempt >= 100) throwErrno("symlink " + temp);
    }
    auto fail = [&temp](int err, const std::string& what) {
        ::unlink(temp.c_str());
        throw std::system_error(err, std::generic_category(), what);
    };
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        // `path` is there already (or the file system cannot tell): replace it only if it
        // is a symbolic link.
        const int err = errno;
        if (err != EEXIST && err != EINVAL && err != ENOSYS) {
            fail(err, "rename " + temp + " to " + path);
        }
        if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            fail(EEXIST, "link " + path + ": exists and is not a symbolic link");
        }
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            fail(errno, "rename " + temp + " to " + path);
        }
    }
    if (std::find(links_.begin(), links_.end(), path) == links_.end()) links_.push_back(path);
}

bool PtyMeter::stopped(std::uint64_t generation) const {
    return closed_ || stopGeneration_ != generation;
}

short PtyMeter::masterEvents(short wanted, int timeoutMs) const {
    pollfd p{fd_, wanted, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return POLLERR;
    if (!(p.revents & (POLLHUP | POLLERR | POLLNVAL))) sawPeerOpen_ = true;
    return p.revents;
}

void PtyMeter::discardInbound() const {
    // The meter ignores what the downloader writes, but must not let it pile up and block
    // the downloader.
    char sink[512];
    while (::read(fd_, sink, sizeof sink) > 0) {
    }
}

bool PtyMeter::send(const std::string& bytes, bool paced) {
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = stopGeneration_;
    }
    return sendFrom(bytes, paced, generation);
}

void PtyMeter::sendAsync(std::string bytes, bool paced) {
    if (workerRunning_) throw std::logic_error("PtyMeter: a background send is still running");
    if (worker_.joinable()) worker_.join();
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = stopGeneration_;
    }
    workerRunning_ = true;
    workerStarted_ = true;
    worker_ = std::thread([this, bytes = std::move(bytes), paced, generation] {
        workerResult_ = sendFrom(bytes, paced, generation);
        workerRunning_ = false;
    });
}

bool PtyMeter::wait() {
    if (worker_.joinable()) worker_.join();
    return workerStarted_ && workerResult_;
}

void PtyMeter::stop() {
    {
        std::lock_guard lock(mutex_);
        ++stopGeneration_;
    }
    cv_.notify_all();
}

bool PtyMeter::sendFrom(const std::string& bytes, bool paced, std::uint64_t generation) {
    {
        std::lock_guard lock(mutex_);
        if (stopped(generation)) return false;
        ++activeSends_;
    }
    struct Leave {
        PtyMeter* self;
        ~Leave() {
            {
                std::lock_guard lock(self->mutex_);
                --self->activeSends_;
            }
            self->cv_.notify_all();
        }
    } leave{this};

    const std::size_t total = bytes.size();
    std::size_t sent = 0;
    auto start = Clock::now();
    while (sent < total) {
        std::size_t upTo = total;
        if (paced) {
            // Due bytes come from absolute deadlines, so oversleeping is made up by the next
            // write instead of adding up over the transfer.
            upTo = std::min(total, bytesDueAfter(Clock::now() - start));
            if (upTo <= sent) {
                std::unique_lock lock(mutex_);
                if (cv_.wait_until(lock, start + lineTime(sent),
                                   [&] { return stopped(generation); })) {
                    return false;
                }
                continue;
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (stopped(generation)) return false;
        }
        const ssize_t n = ::write(fd_, bytes.data() + sent, upTo - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            masterEvents(0, 0);  // notes whether a peer is there, for waitForPeerClose()
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!waitWritable(generation)) return false;
        // A real line cannot send faster than its rate after a stall, so the schedule
        // restarts from here instead of bursting the backlog.
        if (paced) start = Clock::now() - lineTime(sent);
    }
    return true;
}

bool PtyMeter::waitWritable(std::uint64_t generation) {
    for (;;) {
        const short ev = masterEvents(POLLOUT | POLLIN, kSliceMs);
        if (ev & POLLIN) discardInbound();
        if (ev & (POLLERR | POLLNVAL)) return false;
        if (ev & POLLOUT) return true;
        std::unique_lock lock(mutex_);
        if (ev & POLLHUP) {
            // poll() returns at once while nobody has the slave open; sleep instead of spinning.
            if (cv_.wait_for(lock, std::chrono::milliseconds(kSliceMs),
                             [&] { return stopped(generation); })) {
                return false;
            }
        }
        if (stopped(generation)) return false;
    }
}

void PtyMeter::joinWorker() {
    if (worker_.joinable()) worker_.join();
}

void PtyMeter::hangUp() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;  // also stops every send
    }
    cv_.notify_all();
    joinWorker();
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return activeSends_ == 0; });
    ::close(fd_);
    fd_ = -1;
}

bool PtyMeter::waitForPeerClose(std::chrono::milliseconds timeout) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const bool opened = sawPeerOpen_;
        // While the peer has the slave open, poll() wakes up when it closes; while nobody
        // has it open, poll() returns at once and an open can only be found by looking again.
        const short ev = masterEvents(
            POLLIN, opened ? static_cast<int>(std::clamp<long long>(left.count(), 0, 1000)) : 0);
        if (ev & POLLHUP) {
            if (opened) return true;
        } else if (ev & POLLIN) {
            discardInbound();
        }
        if (Clock::now() >= deadline) return false;
        if (ev & POLLHUP) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

bool PtyMeter::peerOpen() const {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
    }
    return !(masterEvents(0, 0) & (POLLHUP | POLLERR | POLLNVAL));
}

}  // namespace vantor::sim
