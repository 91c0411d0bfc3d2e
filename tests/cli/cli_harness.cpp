#include "cli_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vantor::clitest {

Program::Program(const std::vector<std::string>& args, const TempDir& dir) {
    // Several runs may share a folder; each keeps its own output.
    static std::atomic<int> runs{0};
    const std::string stem = dir.file("run" + std::to_string(++runs));
    outPath_ = stem + ".out";
    errPath_ = stem + ".err";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Files the program makes on its own (the day's data file) stay in the test's folder.
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());

    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("posix_spawn " + args[0] + ": " + std::strerror(rc));
    }
}

Program::~Program() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
    }
}

void Program::reap(int rawStatus) {
    if (WIFEXITED(rawStatus)) {
        status_ = WEXITSTATUS(rawStatus);
    } else if (WIFSIGNALED(rawStatus)) {
        status_ = 128 + WTERMSIG(rawStatus);
        if (!killed_)
            ADD_FAILURE() << "the program died of signal " << WTERMSIG(rawStatus) << "; stderr:\n"
                          << err();
    } else {
        status_ = kHung;
    }
}

void Program::kill() {
    killed_ = true;
    if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
}

void Program::signal(int sig) {
    if (pid_ > 0 && !status_) ::kill(pid_, sig);
}

bool Program::running() {
    if (status_ || pid_ <= 0) return false;
    int raw = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &raw, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        reap(raw);
        return false;
    }
    return r == 0;
}

int Program::wait(std::chrono::milliseconds guard) {
    if (status_) return *status_;
    if (eventually([this] { return !running(); }, guard)) return status_.value_or(kHung);
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = kHung;
    ADD_FAILURE() << "the program was still running after " << guard.count()
                  << " ms and was killed; stderr:\n"
                  << err();
    return kHung;
}

std::string Program::out() const {
    return readFile(outPath_);
}
std::string Program::err() const {
    return readFile(errPath_);
}

RunResult run(const std::vector<std::string>& args, const TempDir& dir) {
    Program p(command(args), dir);
    const int status = p.wait();
    return {status, p.out(), p.err()};
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds guard) {
    const auto limit = std::chrono::steady_clock::now() + guard;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::sleep_for(3ms);
    }
}

std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), VANTOR_COMM_BIN);
    return args;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess() << "\"" << part << "\" is in:\n" << text;
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

int countLines(const std::string& text) {
    int lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
        ++lines;
    }
    return lines;
}

std::string modeName(const ::testing::TestParamInfo<Mode>& info) {
    return info.param == Mode::Events ? "Events" : "Blocking";
}

void PrintTo(Mode mode, std::ostream* out) {
    *out << (mode == Mode::Events ? "events" : "--blocking");
}

std::vector<std::string> downloadCommand(const std::string& device, const std::string& dataFile,
                                         Mode mode, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"download", "--device", device, "--data-file", dataFile};
    if (mode == Mode::Blocking) args.push_back("--blocking");
    args.insert(args.end(), extra.begin(), extra.end());
    return command(std::move(args));
}

::testing::AssertionResult pressSend(sim::PtyMeter& meter, Program& program,
                                     const std::string& bytes) {
    bool gone = false;
    const bool open = eventually([&] {
        gone = !program.running();
        return gone || meter.peerOpen();
    });
    if (gone) {
        return ::testing::AssertionFailure()
               << "the program ended before it opened the line; stderr:\n"
               << program.err();
    }
    if (!open) return ::testing::AssertionFailure() << "the program never opened the line";
    if (!meter.send(bytes, false)) return ::testing::AssertionFailure() << "the send failed";
    return ::testing::AssertionSuccess();
}

std::string knownFrames() {
    return sim::frame(kTimeBody) + sim::frame(kSimpleBody) + sim::frame(kNegativeBody) +
           sim::frame(kExtendedBody);
}

std::string knownDataFile(const std::string& unitName) {
    return "0,\"120604154815\",\"Time\",0\r\n"
           "1,123.4,12,2\r\n"
           "2,-123.4,12,2\r\n"
           "3,123.45,\"" +
           unitName + "\",1\r\n";
}

}  // namespace vantor::clitest
