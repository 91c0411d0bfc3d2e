// What one paced line costs its reader, by how the reader waits: a wakeup per
// byte (poll with VMIN 1, as QSerialPort reads), poll with VMIN 16 (the
// kernel reports the line readable only once a frame's worth is queued), and
// a reader that takes everything waiting and then holds off for a while.
// The meter sends from its own thread; the reader's CPU is its own thread's.
//
// usage: vantor_line_wakeups [--bytes N] [--hold-off MS]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_support.h"
#include "sim/pty_meter.h"

namespace {

using vantor::bench::clockSeconds;
using vantor::bench::monotonicSeconds;

enum class Strategy { PerByte, MinFrame, HoldOff };

struct Result {
    long wakeups = 0;
    std::size_t bytes = 0;
    double wall = 0;
    double cpu = 0;
};

Result readLine(const std::string& device, std::size_t total, Strategy strategy, int holdOffMs) {
    Result r;
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror(device.c_str());
        std::exit(1);
    }
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cc[VMIN] = strategy == Strategy::MinFrame ? 16 : 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);

    const double wall0 = monotonicSeconds();
    const double cpu0 = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
    char buf[4096];
    while (r.bytes < total) {
        pollfd p{fd, POLLIN, 0};
        // VMIN 16 never reports a tail shorter than a frame: look again now and then.
        int n = ::poll(&p, 1, strategy == Strategy::MinFrame ? 20 : 5000);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        ++r.wakeups;
        ssize_t got = ::read(fd, buf, sizeof buf);
        if (got > 0) r.bytes += static_cast<std::size_t>(got);
        if (got == 0 || (got < 0 && errno != EAGAIN)) break;
        if (strategy == Strategy::HoldOff) {
            std::this_thread::sleep_for(std::chrono::milliseconds(holdOffMs));
        }
    }
    r.cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
    r.wall = monotonicSeconds() - wall0;
    ::close(fd);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t bytes = 2000;
    int holdOffMs = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--bytes" && i + 1 < argc) {
            bytes = static_cast<std::size_t>(std::atol(argv[++i]));
        } else if (a == "--hold-off" && i + 1 < argc) {
            holdOffMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--bytes N] [--hold-off MS]\n", argv[0]);
            return 2;
        }
    }
    const std::string stream(bytes, '5');
    const struct {
        Strategy strategy;
        const char* name;
    } runs[] = {{Strategy::PerByte, "poll, VMIN 1 (wakeup per byte)"},
                {Strategy::MinFrame, "poll, VMIN 16"},
                {Strategy::HoldOff, "poll, read, then hold off"}};
    for (const auto& run : runs) {
        vantor::sim::PtyMeter meter;
        meter.sendAsync(stream, true);
        Result r = readLine(meter.device(), bytes, run.strategy, holdOffMs);
        meter.wait();
        std::printf(
            "%-32s %6zu bytes in %5.2f s: %6ld wakeups, %7.1f us CPU each, reader CPU "
            "%6.1f ms = %5.2f%% of a core\n",
            run.name, r.bytes, r.wall, r.wakeups, r.wakeups ? 1e6 * r.cpu / r.wakeups : 0,
            r.cpu * 1000, r.wall > 0 ? 100 * r.cpu / r.wall : 0);
        std::fflush(stdout);
    }
    return 0;
}
