#include "exec_runner.h"

#include <signal.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace vantor::station {

struct ExecRunner::Child {
    std::string name;
    std::unique_ptr<QProcess> process;
    pid_t group = 0;
    std::string line;      // not ended yet
    bool cutting = false;  // the rest of a line too long is dropped
    std::size_t logged = 0;
    bool full = false;  // the run's share of the log is used up
};

namespace {

constexpr std::size_t kStampBytes = sizeof "2026-12-10T12:30:20Z station: \n" - 1;

bool groupAlive(long long group) {
    return ::kill(static_cast<pid_t>(-group), 0) == 0 || errno == EPERM;
}

}  // namespace

ExecRunner::ExecRunner(Setup setup) : setup_(std::move(setup)) {}

ExecRunner::~ExecRunner() {
    // Only reached without stop() when the station failed: nothing may outlive it.
    for (auto& c : running_) QObject::disconnect(c->process.get(), nullptr, nullptr, nullptr);
    signalAll(SIGKILL);
    for (auto& c : running_) c->process->waitForFinished(1000);
}

void ExecRunner::run(const std::string& name, const std::vector<std::pair<QString, QString>>& env) {
    if (setup_.command.empty()) return;
    if (stopping_) {
        setup_.log("--exec for " + name + " not run: the station is stopping");
        return;
    }
    if (static_cast<int>(running_.size()) >= setup_.atOnce) {
        setup_.log("--exec for " + name + " waits: " + std::to_string(running_.size()) +
                   " are running");
        waiting_.push_back({name, env});
        return;
    }
    start({name, env});
}

void ExecRunner::start(Waiting job) {
    auto child = std::make_unique<Child>();
    Child* c = child.get();
    c->name = std::move(job.name);
    c->process = std::make_unique<QProcess>();
    QProcess* p = c->process.get();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : job.env) env.insert(key, value);
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setStandardInputFile(QProcess::nullDevice());
    // A group of its own, so that what it starts is ended with it; and the
    // signals as a shell expects them.
    p->setChildProcessModifier([] {
        ::setsid();
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
    });
    QObject::connect(p, &QProcess::readyReadStandardOutput, [this, c, p] {
        char buffer[16384];
        for (;;) {
            const qint64 n = p->read(buffer, sizeof buffer);
            if (n <= 0) break;
            take(*c, buffer, static_cast<std::size_t>(n));
        }
    });
    QObject::connect(p, &QProcess::finished, [this, c](int code, QProcess::ExitStatus how) {
        if (how != QProcess::NormalExit || code != 0) {
            setup_.log("--exec for " + c->name + " failed (" +
                       (how == QProcess::NormalExit ? "exit status " : "signal ") +
                       std::to_string(code) + ")");
        }
        ended(c);
    });
    QObject::connect(p, &QProcess::errorOccurred, [this, c](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        setup_.log("--exec for " + c->name + " could not run");
        ended(c);
    });
    QObject::connect(p, &QProcess::started,
                     [c, p] { c->group = static_cast<pid_t>(p->processId()); });
    running_.push_back(std::move(child));
    p->start("/bin/sh", {"-c", QString::fromLocal8Bit(setup_.command.c_str())});
}

void ExecRunner::take(Child& c, const char* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && !c.full) {
        const void* newline = std::memchr(data + i, '\n', size - i);
        const std::size_t end =
            newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - data)
                               : size;
        if (!c.cutting) {
            const std::size_t take = std::min(setup_.lineBytes - c.line.size(), end - i);
            c.line.append(data + i, take);
            if (take < end - i) {
                emitLine(c, true);
                c.cutting = true;
            }
        }
        if (newline == nullptr) break;
        if (!c.cutting) emitLine(c, false);
        c.cutting = false;
        i = end + 1;
    }
}

void ExecRunner::emitLine(Child& c, bool cut) {
    std::string text = std::move(c.line);
    c.line.clear();
    if (c.full) return;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    // One line of the command's is one line of the log, whatever it holds.
    for (char& ch : text) {
        if ((static_cast<unsigned char>(ch) < 0x20 && ch != '\t') || ch == 0x7f) ch = '?';
    }
    std::string line = "--exec for " + c.name + ": " + text;
    if (cut) line += " [line cut at " + std::to_string(setup_.lineBytes / 1024) + " KiB]";
    // With the log's own time and name before it.
    const std::size_t cost = line.size() + kStampBytes;
    if (c.logged + cost > setup_.runBytes) {
        c.full = true;
        setup_.log("--exec for " + c.name + ": more output than " +
                   std::to_string(setup_.runBytes / 1024) + " KiB of log; the rest is dropped");
        return;
    }
    c.logged += cost;
    setup_.log(line);
}

void ExecRunner::ended(Child* c) {
    auto it =
        std::find_if(running_.begin(), running_.end(), [c](const auto& r) { return r.get() == c; });
    if (it == running_.end()) return;
    if (!c->cutting && !c->line.empty()) emitLine(*c, false);
    if (stopping_ && c->group > 0 && groupAlive(c->group)) lingering_.insert(c->group);
    // Not deleted from inside its own signal.
    QObject::disconnect(c->process.get(), nullptr, nullptr, nullptr);
    c->process.release()->deleteLater();
    running_.erase(it);
    if (!stopping_ && !waiting_.empty()) {
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        start(std::move(next));
    }
}

void ExecRunner::signalAll(int signal) {
    for (const auto& c : running_) {
        if (c->group > 0) ::kill(-c->group, signal);
    }
    for (long long group : lingering_) ::kill(static_cast<pid_t>(-group), signal);
}

void ExecRunner::stop() {
    if (stopping_) return;
    stopping_ = true;
    for (const Waiting& w : waiting_) {
        setup_.log("--exec for " + w.name + " not run: the station is stopping");
    }
    waiting_.clear();
    if (running_.empty()) return;
    setup_.log("ending " + std::to_string(running_.size()) + " --exec run" +
               (running_.size() == 1 ? "" : "s") + " (SIGTERM, then SIGKILL after " +
               std::to_string(setup_.graceMilliseconds / 1000) + " s)");
    signalAll(SIGTERM);
}

void ExecRunner::waitEnded() {
    using Clock = std::chrono::steady_clock;
    const auto killAt = Clock::now() + std::chrono::milliseconds(setup_.graceMilliseconds);
    bool killed = false;
    QEventLoop loop;
    QTimer look;
    // The groups' other processes are no children of the station's: their end
    // sends no signal, so they are looked for.
    QObject::connect(&look, &QTimer::timeout, [&] {
        std::erase_if(lingering_, [](long long g) { return !groupAlive(g); });
        if (running_.empty() && lingering_.empty()) {
            loop.quit();
            return;
        }
        if (!killed && Clock::now() >= killAt) {
            killed = true;
            setup_.log("--exec: SIGKILL to what is left after " +
                       std::to_string(setup_.graceMilliseconds / 1000) + " s");
            signalAll(SIGKILL);
        } else if (killed && Clock::now() >= killAt + std::chrono::seconds(5)) {
            setup_.log("--exec: processes that SIGKILL did not end are left");
            loop.quit();
        }
    });
    look.start(50);
    if (!running_.empty() || !lingering_.empty()) loop.exec();
}

}  // namespace vantor::station
