// simulate: a meter on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vantor/data_file.h>

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "arguments.h"
#include "commands.h"
#include "signal_watch.h"
#include "sim/pty_meter.h"
#include "transfer_runner.h"

namespace vantor::cli {

namespace {

// SIGINT, SIGTERM and SIGHUP end the meter as Enter does: the waits below
// return, and the destructors switch the meter off and remove its link.
bool signalled() {
    return SignalWatch::received() != 0;
}

// Waits up to `timeoutMs` (-1: for ever) for `fd` (or nothing, when -1) or a signal; the
// events of `fd`, 0 on timeout or a signal.
short waitFor(int fd, int timeoutMs) {
    pollfd p[2] = {{SignalWatch::fd(), POLLIN, 0}, {fd, POLLIN, 0}};
    const int n = ::poll(p, fd >= 0 ? 2 : 1, timeoutMs);
    return n > 0 && !signalled() ? p[1].revents : 0;
}

// Waits for SEND: a line on standard input (or its end), or `seconds`.
void waitForSend(std::optional<double> seconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(
                                             seconds ? static_cast<long long>(*seconds * 1000) : 0);
    int in = STDIN_FILENO;
    while (!signalled()) {
        int timeoutMs = -1;
        if (seconds) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return;  // the time has come
            timeoutMs = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        }
        if (waitFor(in, timeoutMs) == 0) continue;
        char buf[256];
        const ssize_t got = ::read(in, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (!seconds) return;  // no operator: send at once
            in = -1;               // the time alone decides now
            continue;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buf[i] == '\n') return;
        }
    }
}

// meter.send(), stopped by a signal.
bool sendUnlessSignalled(sim::PtyMeter& meter, const std::string& bytes, bool paced) {
    int done[2];
    if (::pipe2(done, O_CLOEXEC) != 0) return meter.send(bytes, paced);
    std::thread watcher([&] {
        pollfd p[2] = {{SignalWatch::fd(), POLLIN, 0}, {done[0], POLLIN, 0}};
        while (!(p[1].revents & (POLLIN | POLLHUP))) {
            // Again and again: a stop() just before the send began would not stop it.
            if (signalled()) meter.stop();
            ::poll(p, 2, signalled() ? 20 : -1);
        }
    });
    const bool sent = meter.send(bytes, paced);
    ::close(done[1]);
    watcher.join();
    ::close(done[0]);
    return sent;
}

// Waits until a downloader has read every byte sent: the line's input queue
// is empty. A downloader that comes after the send, or opens and closes the
// line quicker than anyone could watch, is seen all the same. Watching holds
// the line open, so the meter must not hang up before this returns.
bool waitUntilRead(const std::string& device) {
    int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // The kernel hands bytes written while nobody had the line open to its
    // input queue shortly after an open, and refills the queue as it drains:
    // only a queue found the same several times in a row has settled.
    waitFor(fd, 200);
    constexpr int kSettled = 5;        // checks, 10 ms apart
    constexpr int kGiveUp = 10 * 100;  // 10 s without progress once reading began
    int last = -1, same = 0;
    bool reading = false, said = false;
    while (!signalled()) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0) break;
        same = waiting == last ? same + 1 : 0;
        reading = reading || (last >= 0 && waiting < last);
        last = waiting;
        // The event-driven download stops at the end marker's last ESC and
        // leaves the closing CR on the line.
        if (waiting <= 1 && same >= kSettled) break;
        if (reading && same >= kGiveUp) {
            std::fprintf(stderr, "the download stopped reading with %d bytes left\n", waiting);
            break;
        }
        if (waiting > 1 && !said) {
            std::fprintf(stderr, "waiting for a download to read the line\n");
            said = true;
        }
        waitFor(-1, 10);
    }
    ::close(fd);
    return true;
}

// meter.waitForPeerClose(), in slices so that a signal ends it.
void waitForPeerCloseOrSignal(sim::PtyMeter& meter, std::chrono::seconds timeout) {
    constexpr auto kSlice = std::chrono::milliseconds(200);
    for (auto waited = kSlice; !signalled(); waited += kSlice) {
        if (meter.waitForPeerClose(kSlice) || waited >= timeout) return;
    }
}

// Writes the simulated meter's unit file as DIR/unit2.dat, never over a
// file of the user's: one that is there already is left as it is.
bool writeUnitFile(const std::string& dir) {
    const std::string path = unitFileName(dir);
    const std::string bytes = sim::unitFile();
    if (!QDir().mkpath(QString::fromLocal8Bit(dir.c_str()))) {
        std::fprintf(stderr, "cannot make the folder %s for the unit file; give another one\n",
                     dir.c_str());
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream there;
        there << in.rdbuf();
        if (in && there.str() == bytes) {
            std::fprintf(stderr, "unit file: %s (the simulated meter's, already there)\n",
                         path.c_str());
            return true;
        }
        std::fprintf(stderr,
                     "%s is there already and is not the simulated meter's unit file: it is left "
                     "as it is; give another folder with --unit-file DIR\n",
                     path.c_str());
        return false;
    }
    std::size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const int err = errno;
    if (fd < 0 || ::close(fd) != 0 || done != bytes.size()) {
        std::fprintf(stderr, "cannot write the unit file %s: %s\n", path.c_str(),
                     std::strerror(err));
        if (fd >= 0) ::unlink(path.c_str());
        return false;
    }
    std::fprintf(stderr, "unit file: %s (download --app-path %s names the meter's units)\n",
                 path.c_str(), dir.c_str());
    return true;
}

}  // namespace

int simulateCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A meter on a pseudo-terminal: prints the device name, then streams its memory when "
        "SEND is pressed (Enter on standard input, or after --send-after).");
    parser.addOptions({
        {"link", "Make PATH a symbolic link to the device.", "PATH"},
        {"records", "Records in the meter's memory (default 20).", "N", "20"},
        {"from", "Send the raw bytes of FILE instead.", "FILE"},
        {"paced", "Send at the real line rate (9600 baud)."},
        {"send-after", "Press SEND after this many seconds.", "SECONDS"},
        {"unit-file",
         "First write the simulated meter's unit file as DIR/unit2.dat (kept when it is there "
         "already), for download --app-path DIR.",
         "DIR"},
    });
    if (auto stop = parseArguments(parser, args, 0)) return *stop;

    auto records = numberOption(parser, "records", 0, 1e7, true);
    if (!records) return kExitUsage;
    std::optional<double> sendAfter;
    if (parser.isSet("send-after")) {
        sendAfter = numberOption(parser, "send-after", 0, 1e6, false);
        if (!sendAfter) return kExitUsage;
    }
    std::string stream;
    try {
        stream = parser.isSet("from")
                     ? sim::captureFromFile(parser.value("from").toLocal8Bit().toStdString())
                     : sim::transferStream(sim::sessionMemory(static_cast<int>(*records)));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitFailure;
    }

    if (parser.isSet("unit-file") &&
        !writeUnitFile(parser.value("unit-file").toLocal8Bit().toStdString())) {
        return kExitFailure;
    }

    // Outlives the meter, so that a signal cannot cut its clean-up short.
    SignalWatch watch({}, true);
    try {
        sim::PtyMeter meter;
        if (parser.isSet("link")) meter.link(parser.value("link").toLocal8Bit().toStdString());
        std::printf("%s\n", meter.device().c_str());
        std::fflush(stdout);
        if (!sendAfter) std::fprintf(stderr, "press Enter to press SEND on the meter\n");
        waitForSend(sendAfter);
        if (!signalled()) {
            std::fprintf(stderr, "sending %zu bytes%s\n", stream.size(),
                         parser.isSet("paced") ? " at 9600 baud" : "");
            if (!sendUnlessSignalled(meter, stream, parser.isSet("paced")) && !signalled()) {
                std::fprintf(stderr, "the line failed while sending\n");
                return kExitFailure;
            }
        }
        // Unread bytes would be lost with the line: wait for the downloader.
        if (!signalled() && !waitUntilRead(meter.device())) {
            waitForPeerCloseOrSignal(meter, std::chrono::seconds(30));
        }
        if (signalled()) {
            const int signo = SignalWatch::received();
            std::fprintf(stderr, "ended by %s: switching the meter off\n",
                         signo == SIGINT    ? "SIGINT"
                         : signo == SIGTERM ? "SIGTERM"
                                            : "SIGHUP");
            return 128 + signo;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot run the simulated meter: %s\n", e.what());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace vantor::cli
