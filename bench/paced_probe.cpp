// Plays the meter for one `vantor-comm download` at the real line rate and
// times the downloader: its CPU time over its wall time, and how long after
// the meter's last byte it exits.
//
// usage: vantor_paced_probe VANTOR_COMM [--blocking] [--records N] [--runs K]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "sim/pty_meter.h"

namespace {

using vantor::bench::monotonicSeconds;

struct Options {
    std::string program;
    bool blocking = false;
    int records = 600;
    int runs = 1;
};

struct Outcome {
    bool ok = false;
    double wall = 0;     // spawn to exit
    double cpu = 0;      // user + system of the downloader
    double latency = 0;  // the meter's last write returned -> the downloader exited
    int status = -1;
    bool exact = false;
};

double seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

pid_t spawnDownloader(const Options& o, const std::string& device, const std::string& dataFile,
                      const std::string& log) {
    std::vector<std::string> args = {o.program,     "download", "--device",  device,
                                     "--data-file", dataFile,   "--timeout", "120"};
    if (o.blocking) args.push_back("--blocking");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid != 0) return pid;
    // The panel and summary go to a log: a terminal would redraw on every tick.
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

Outcome runOnce(const Options& o, const std::string& dir) {
    Outcome r;
    const std::string stream = vantor::sim::transferStream(vantor::sim::standardMemory(o.records));
    const std::string expected =
        vantor::bench::decodeOnFakePlatform(stream, dir + "/reference.dat", 4096);
    const std::string dataFile = dir + "/download.dat";
    ::unlink(dataFile.c_str());

    vantor::sim::PtyMeter meter;
    const double spawned = monotonicSeconds();
    const pid_t pid = spawnDownloader(o, meter.device(), dataFile, dir + "/download.log");
    if (pid < 0) {
        std::perror("fork");
        return r;
    }

    // The exit is stamped by a thread waiting in wait4, so it is exact even
    // when the downloader ends before the meter's last write returns.
    double exited = 0;
    int status = 0;
    rusage usage{};
    std::thread waiter([&] {
        while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        exited = monotonicSeconds();
    });

    // SEND is pressed once the downloader has the port open and set up.
    const double giveUp = monotonicSeconds() + 10;
    while (!meter.peerOpen() && monotonicSeconds() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const bool sent = meter.send(stream, true);
    const double lastByte = monotonicSeconds();
    waiter.join();

    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.wall = exited - spawned;
    r.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    r.latency = exited - lastByte;
    try {
        r.exact = vantor::bench::readWholeFile(dataFile) == expected;
    } catch (const std::exception&) {
        r.exact = false;
    }
    r.ok = sent && r.status == 0 && r.exact;
    return r;
}

int usage(const char* self) {
    std::fprintf(stderr, "usage: %s VANTOR_COMM [--blocking] [--records N] [--runs K]\n", self);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(argv[0]);
    Options o;
    o.program = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--blocking") {
            o.blocking = true;
        } else if (a == "--records" && i + 1 < argc) {
            o.records = std::atoi(argv[++i]);
        } else if (a == "--runs" && i + 1 < argc) {
            o.runs = std::atoi(argv[++i]);
        } else {
            return usage(argv[0]);
        }
    }
    if (o.records < 1 || o.runs < 1) return usage(argv[0]);

    const std::string dir = vantor::bench::makeScratchDir("paced");
    const char* mode = o.blocking ? "download --blocking" : "download";
    bool allOk = true;
    double worstCpu = 0, worstLatency = -1e9;
    for (int run = 1; run <= o.runs; ++run) {
        Outcome r = runOnce(o, dir);
        allOk = allOk && r.ok;
        const double share = r.wall > 0 ? 100 * r.cpu / r.wall : 0;
        worstCpu = std::max(worstCpu, share);
        worstLatency = std::max(worstLatency, r.latency);
        std::printf(
            "%s run %d: exit %d, data file %s, wall %.3f s, cpu %.1f ms (%.2f%% of a core), "
            "last byte -> exit %.1f ms\n",
            mode, run, r.status, r.exact ? "exact" : "WRONG", r.wall, r.cpu * 1000, share,
            r.latency * 1000);
        std::fflush(stdout);
    }
    std::printf(
        "%s worst of %d: cpu %.2f%% of a core (goal < 1%%: %s), last byte -> exit "
        "%.1f ms (goal < 50 ms: %s)\n",
        mode, o.runs, worstCpu, worstCpu < 1 ? "met" : "MISSED", worstLatency * 1000,
        worstLatency < 0.050 ? "met" : "MISSED");
    vantor::bench::removeTree(dir);
    return allOk ? 0 : 1;
}
