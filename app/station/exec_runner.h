// The station's --exec: a shell command run after each download, its output
// in the station's log. Whatever a command writes or however many downloads
// come, the station's memory and log stay bounded, and a stopping station
// leaves none of its processes behind.
#pragma once

#include <QProcessEnvironment>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vantor::station {

class ExecRunner {
  public:
    struct Setup {
        std::string command;                          // run by /bin/sh -c
        std::function<void(const std::string&)> log;  // one line per event
        int atOnce = 4;                    // running at the same time; the rest wait in order
        std::size_t lineBytes = 4096;      // a longer line is cut
        std::size_t runBytes = 64 * 1024;  // the log lines one run may take
        int graceMilliseconds = 5000;      // from SIGTERM to SIGKILL when stopping
    };
    explicit ExecRunner(Setup setup);
    ~ExecRunner();
    ExecRunner(const ExecRunner&) = delete;
    ExecRunner& operator=(const ExecRunner&) = delete;

    // Runs the command for the download `name` with `env` added to the
    // environment, now or once an earlier run ends.
    void run(const std::string& name, const std::vector<std::pair<QString, QString>>& env);
    // Sends SIGTERM to every running command's process group; those waiting
    // are not run (logged).
    void stop();
    // After stop(): runs the event loop until every process group is gone,
    // sending SIGKILL to what is left after the grace period.
    void waitEnded();

  private:
    struct Child;
    struct Waiting {
        std::string name;
        std::vector<std::pair<QString, QString>> env;
    };

    void start(Waiting job);
    void take(Child& c, const char* data, std::size_t size);
    void emitLine(Child& c, bool cut);
    void ended(Child* c);
    void signalAll(int signal);

    Setup setup_;
    std::vector<std::unique_ptr<Child>> running_;
    std::deque<Waiting> waiting_;
    std::set<long long> lingering_;  // groups whose first process ended while stopping
    bool stopping_ = false;
};

}  // namespace vantor::station
