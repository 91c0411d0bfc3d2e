// Many meters on one thread: N controls in one Qt event loop, each
// downloading by receive events (Start) from its own meter on a
// pseudo-terminal sending at the real line rate. Every data file is checked
// against the same stream decoded on the fake platform, and the downloading
// part's CPU time is reported over its wall time.
//
// By default the meters run in a child process, so the downloader's CPU time
// is the process's own; with --same-process they are threads of this process
// and the main thread's CPU clock is the downloader's share.
//
// --hold-off MS gives every QtSerialBackend that hold-off: receive
// notifications coalesced into one read per MS while a line keeps sending.
//
// With meters in a child process it also reports, per meter, the time from
// its last write to the end of its control's transfer. --blocking downloads
// with ReadDataLogger instead (one meter only: the call holds the thread).
//
// usage: vantor_many_meters [--meters N] [--records R] [--same-process] [--hold-off MS]
//                           [--blocking]
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kit/fake/date_source_fixed.h"
#include "kit/fake/message_sink_recording.h"
#include "platform/qt/message_loop_qt.h"
#include "platform/qt/serial_backend_qt.h"
#include "sim/pty_meter.h"

namespace {

using namespace vantor;
using bench::clockSeconds;
using bench::monotonicSeconds;

// Percent of one core: many meters together, and a single download.
constexpr double kGoalShareMany = 10.0;
constexpr double kGoalShareOne = 1.0;
constexpr double kSecondsPerByte = 10.0 / 9600;

struct Options {
    int meters = 64;
    int records = 600;
    bool sameProcess = false;
    int holdOffMs = 0;  // 0: the product's QtSerialBackend
    bool blocking = false;
};

double seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The meter process: opens the meters, tells the parent their devices (one
// a line), waits for the go byte, then sends every stream at once, each from
// its meter's own thread, and reports when each send has ended (one
// CLOCK_MONOTONIC reading a line, in the meters' order). Exits with the
// number of failed sends.
[[noreturn]] void runMeterProcess(const std::vector<std::string>& streams, int namesOut, int goIn,
                                  int doneOut) {
    int failed = 0;
    {
        std::vector<std::unique_ptr<sim::PtyMeter>> meters;
        std::string names;
        try {
            for (std::size_t i = 0; i < streams.size(); ++i) {
                meters.push_back(std::make_unique<sim::PtyMeter>());
                names += meters.back()->device() + "\n";
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "meter process: %s\n", e.what());
            ::_exit(100);
        }
        if (!writeAll(namesOut, names)) ::_exit(101);
        ::close(namesOut);
        char go = 0;
        if (::read(goIn, &go, 1) != 1) ::_exit(102);  // the downloader gave up
        for (std::size_t i = 0; i < streams.size(); ++i) meters[i]->sendAsync(streams[i], true);
        // The streams grow with the index, so the sends end in this order.
        for (auto& meter : meters) {
            failed += meter->wait() ? 0 : 1;
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "%.9f\n", monotonicSeconds());
            writeAll(doneOut, stamp);
        }
        ::close(doneOut);
        // Unread bytes would be lost with the line: let each downloader close first.
        for (auto& meter : meters) meter->waitForPeerClose(std::chrono::seconds(30));
    }
    ::_exit(failed);
}

std::vector<std::string> readLines(int fd, std::size_t count) {
    std::string text;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(text.substr(at, nl - at));
    }
    if (lines.size() != count) lines.clear();
    return lines;
}

int usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s [--meters N] [--records R] [--same-process] [--hold-off MS] "
                 "[--blocking]\n",
                 self);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--meters" && i + 1 < argc) {
            o.meters = std::atoi(argv[++i]);
        } else if (a == "--records" && i + 1 < argc) {
            o.records = std::atoi(argv[++i]);
        } else if (a == "--same-process") {
            o.sameProcess = true;
        } else if (a == "--blocking") {
            o.blocking = true;
        } else if (a == "--hold-off" && i + 1 < argc) {
            o.holdOffMs = std::atoi(argv[++i]);
        } else {
            return usage(argv[0]);
        }
    }
    if (o.meters < 1 || o.records < 1 || o.holdOffMs < 0 || (o.blocking && o.meters != 1)) {
        return usage(argv[0]);
    }
    const auto n = static_cast<std::size_t>(o.meters);

    // Memories of different lengths, so a file that went to the wrong control shows.
    const std::string dir = bench::makeScratchDir("many");
    std::vector<std::string> streams, expected;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        streams.push_back(
            sim::transferStream(sim::standardMemory(o.records + static_cast<int>(i))));
        expected.push_back(
            bench::decodeOnFakePlatform(streams.back(), dir + "/reference.dat", 4096));
        longest = std::max(longest, streams.back().size());
    }

    // The meters start before Qt does: the child must not inherit an application.
    std::vector<std::string> devices;
    std::vector<std::unique_ptr<sim::PtyMeter>> localMeters;
    pid_t meterPid = -1;
    int goOut = -1, doneIn = -1;
    if (o.sameProcess) {
        for (std::size_t i = 0; i < n; ++i) {
            localMeters.push_back(std::make_unique<sim::PtyMeter>());
            devices.push_back(localMeters.back()->device());
        }
    } else {
        int names[2], go[2], done[2];
        if (::pipe2(names, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0 ||
            ::pipe2(done, O_CLOEXEC) != 0) {
            std::perror("pipe");
            return 1;
        }
        meterPid = ::fork();
        if (meterPid < 0) {
            std::perror("fork");
            return 1;
        }
        if (meterPid == 0) {
            ::close(names[0]);
            ::close(go[1]);
            ::close(done[0]);
            runMeterProcess(streams, names[1], go[0], done[1]);
        }
        ::close(names[1]);
        ::close(go[0]);
        ::close(done[1]);
        goOut = go[1];
        doneIn = done[0];
        devices = readLines(names[0], n);
        ::close(names[0]);
        if (devices.empty()) {
            std::fprintf(stderr, "the meter process did not start its meters\n");
            bench::removeTree(dir);
            return 1;
        }
    }

    int status = 0;
    {
        QCoreApplication app(argc, argv);
        QtMessageLoop loop;
        FixedDateSource dates{Date{2012, 6, 4}};
        std::vector<std::unique_ptr<RecordingMessageSink>> sinks;
        std::vector<std::unique_ptr<Vantor_Comm>> controls;
        QEventLoop eventLoop;
        std::size_t ended = 0;
        long reads = 0;
        std::vector<double> endedAt(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            sinks.push_back(std::make_unique<RecordingMessageSink>());
            std::unique_ptr<SerialBackend> backend;
            backend = std::make_unique<QtSerialBackend>(std::chrono::milliseconds(o.holdOffMs));
            controls.push_back(std::make_unique<Vantor_Comm>(
                ControlPlatform{loop, *sinks.back(), dates, std::move(backend)}));
            Vantor_Comm& comm = *controls.back();
            comm.onBytesRead = [&reads](std::string_view) { ++reads; };
            comm.Port(1);
            comm.Ports().set(1, devices[i]);
            comm.df = dir + "/meter" + std::to_string(i) + ".dat";
            comm.onTransferEnded = [&, i] {
                endedAt[i] = monotonicSeconds();
                if (++ended == n) eventLoop.quit();
            };
            if (o.blocking) continue;  // the port opens inside ReadDataLogger
            comm.Start();
            if (!comm.fgComPortOpen) {
                std::fprintf(stderr, "control %zu could not arm on %s\n", i, devices[i].c_str());
                status = 1;
            }
        }

        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&] { eventLoop.quit(); });
        const double expectedSeconds = static_cast<double>(longest) * kSecondsPerByte;
        deadline.start(static_cast<int>((expectedSeconds + 30) * 1000));

        clockid_t mainClock{};
        pthread_getcpuclockid(pthread_self(), &mainClock);
        const double wall0 = monotonicSeconds();
        const double process0 = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double main0 = clockSeconds(mainClock);
        // SEND on every meter at once.
        auto pressSend = [&] {
            if (o.sameProcess) {
                for (std::size_t i = 0; i < n; ++i) localMeters[i]->sendAsync(streams[i], true);
            } else if (::write(goOut, "g", 1) != 1) {
                std::perror("write");
                status = 1;
            }
        };
        if (o.blocking) {
            // Pressed from the loop ReadDataLogger waits in, once the port is open.
            loop.post(pressSend);
            if (status == 0) controls[0]->ReadDataLogger();
        } else {
            pressSend();
            if (status == 0 && ended < n) eventLoop.exec();
        }
        const double wall = monotonicSeconds() - wall0;
        const double processCpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
        const double mainCpu = clockSeconds(mainClock) - main0;

        // The blocking download confirms the transfer in a message box.
        const std::vector<std::string> expectedMessages =
            o.blocking ? std::vector<std::string>{"Data Received O.K!"}
                       : std::vector<std::string>{};
        std::size_t exact = 0, shown = 0;
        for (std::size_t i = 0; i < n; ++i) {
            Vantor_Comm& comm = *controls[i];
            bool ok = comm.LastTransferOutcome() == TransferOutcome::EndMarker &&
                      comm.datano == o.records + static_cast<Long>(i) &&
                      sinks[i]->messages == expectedMessages;
            try {
                ok = ok && bench::readWholeFile(comm.df) == expected[i];
            } catch (const std::exception&) {
                ok = false;
            }
            if (ok) {
                ++exact;
            } else if (++shown <= 5) {
                std::fprintf(stderr, "meter %zu: outcome %d, %d records, %zu messages%s%s\n", i,
                             static_cast<int>(comm.LastTransferOutcome()), comm.datano,
                             sinks[i]->messages.size(),
                             sinks[i]->messages.empty() ? "" : ", first: ",
                             sinks[i]->messages.empty() ? "" : sinks[i]->messages[0].c_str());
            }
        }
        if (exact != n) status = 1;
        controls.clear();  // closes every port, so the meters may hang up

        std::string latencyText;
        if (!o.sameProcess) {
            const std::vector<std::string> sent = readLines(doneIn, n);
            ::close(doneIn);
            double worst = -1e9, sum = 0;
            for (std::size_t i = 0; i < sent.size(); ++i) {
                const double latency = endedAt[i] - std::atof(sent[i].c_str());
                worst = std::max(worst, latency);
                sum += latency;
            }
            if (!sent.empty()) {
                latencyText = std::string(256, '\0');
                std::snprintf(
                    latencyText.data(), latencyText.size(),
                    "meter's last write -> its transfer's end: mean %.1f ms, worst %.1f ms\n",
                    1000 * sum / static_cast<double>(sent.size()), 1000 * worst);
            }
        }

        const double downloaderCpu = o.sameProcess ? mainCpu : processCpu;
        const double share = wall > 0 ? 100 * downloaderCpu / wall : 0;
        const double goal = n == 1 ? kGoalShareOne : kGoalShareMany;
        std::size_t totalBytes = 0;
        for (const std::string& s : streams) totalBytes += s.size();
        std::printf(
            "%d meters x %d..%d records (%s; %s; %s): %zu of %zu data files exact\n", o.meters,
            o.records, o.records + o.meters - 1, o.blocking ? "ReadDataLogger" : "Start",
            o.sameProcess ? "meters are threads of this process" : "meters in a child process",
            o.holdOffMs > 0
                ? ("QtSerialBackend, hold-off " + std::to_string(o.holdOffMs) + " ms").c_str()
                : "QtSerialBackend",
            exact, n);
        std::printf(
            "reads from the ports: %ld for %zu bytes (%.1f bytes per read, %.1f us of "
            "downloader CPU per read)\n",
            reads, totalBytes,
            reads > 0 ? static_cast<double>(totalBytes) / static_cast<double>(reads) : 0,
            reads > 0 ? 1e6 * (o.sameProcess ? mainCpu : processCpu) / static_cast<double>(reads)
                      : 0);
        std::printf("downloading part: wall %.3f s (line time of the longest stream %.3f s)\n",
                    wall, expectedSeconds);
        std::printf(
            "downloader CPU: %.3f s = %.2f%% of a core (goal < %g%%: %s); main thread "
            "%.3f s, whole process %.3f s\n",
            downloaderCpu, share, goal, share < goal ? "met" : "MISSED", mainCpu, processCpu);
        if (!latencyText.empty()) std::printf("%s", latencyText.c_str());
        if (o.sameProcess) {
            for (auto& meter : localMeters) meter->wait();
            std::printf("meters' threads: %.3f s = %.2f%% of a core\n", processCpu - mainCpu,
                        wall > 0 ? 100 * (processCpu - mainCpu) / wall : 0);
        }
    }

    if (!o.sameProcess) {
        ::close(goOut);
        int meterStatus = 0;
        rusage usage{};
        while (::wait4(meterPid, &meterStatus, 0, &usage) < 0 && errno == EINTR) {
        }
        const double meterCpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
        std::printf("meter process: CPU %.3f s over its whole life, exit %d\n", meterCpu,
                    WIFEXITED(meterStatus) ? WEXITSTATUS(meterStatus) : -1);
        if (!WIFEXITED(meterStatus) || WEXITSTATUS(meterStatus) != 0) status = 1;
    }
    localMeters.clear();
    bench::removeTree(dir);
    return status;
}
