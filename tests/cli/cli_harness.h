// Runs the vantor-comm program as a user would and looks at what it leaves behind.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "exit_status.h"
#include "kit/files.h"
#include "kit/frames.h"
#include "sim/pty_meter.h"

namespace vantor::clitest {

using namespace std::chrono_literals;

// Only keep a broken program or test from hanging the suite; nothing is timed against them.
inline constexpr std::chrono::milliseconds kProgramGuard = 20s;
inline constexpr std::chrono::milliseconds kPollGuard = 10s;

// Exit statuses the program promises.
using cli::kExitDeviceLost;
using cli::kExitFailure;
using cli::kExitNotArmed;
using cli::kExitOk;
using cli::kExitTimeout;
using cli::kExitUsage;
// wait() gives this when the guard passed and the program had to be killed.
inline constexpr int kHung = -1;

using TempDir = testing::ScratchDir;

// One run of the program: standard input from /dev/null, standard output and error into
// files of `dir`, working directory `dir`.
class Program {
  public:
    Program(const std::vector<std::string>& args, const TempDir& dir);
    ~Program();  // kills a program still running
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The exit status (128 + signal when a signal ended it), or kHung after killing a program
    // the guard ran out on.
    int wait(std::chrono::milliseconds guard = kProgramGuard);
    bool running();
    // Kills the program as a crash or a power cut would, and reaps it.
    void kill();
    // Sends `sig` as a user's Ctrl-C or a service manager would.
    void signal(int sig);

    std::string out() const;
    std::string err() const;

  private:
    void reap(int rawStatus);

    bool killed_ = false;  // a signal the test sent is no failure

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string outPath_;
    std::string errPath_;
};

// Starts the program, waits for it (under the guard) and returns its exit status.
struct RunResult {
    int status;
    std::string out;
    std::string err;
};
RunResult run(const std::vector<std::string>& args, const TempDir& dir);

// Polls `done` every few milliseconds; false if the guard passed first.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds guard = kPollGuard);

// The program's path, then `args`.
std::vector<std::string> command(std::vector<std::string> args);

using testing::readFile;
using testing::writeFile;
bool exists(const std::string& path);
// Shows the whole text when `part` is not in it.
::testing::AssertionResult contains(const std::string& text, const std::string& part);
// Lines ending in CR LF.
int countLines(const std::string& text);

// The meter's known readings, and what the data file shows for them.
using testing::kExtendedBody;
using testing::kNegativeBody;
using testing::kSimpleBody;
using testing::kTimeBody;
inline const std::string kUnnamedUnit = std::string(10, '\0');
inline const std::string kUnitFile = "0,V\r\n1,mg/L\r\n";

// How the download is carried: by receive events (the default) or one blocking call.
enum class Mode { Events, Blocking };
std::string modeName(const ::testing::TestParamInfo<Mode>& info);
void PrintTo(Mode mode, std::ostream* out);

// `download --device DEVICE --data-file DATAFILE [--blocking] EXTRA...`, program path first.
std::vector<std::string> downloadCommand(const std::string& device, const std::string& dataFile,
                                         Mode mode, const std::vector<std::string>& extra = {});

// Waits until `program` has the meter's line open, then sends `bytes` as fast as the line
// takes them.
::testing::AssertionResult pressSend(sim::PtyMeter& meter, Program& program,
                                     const std::string& bytes);

// The four known frames, in order, without the end marker.
std::string knownFrames();
// The data file they give; `unitName` is the extended reading's unit name (10 characters).
std::string knownDataFile(const std::string& unitName = kUnnamedUnit);

}  // namespace vantor::clitest
