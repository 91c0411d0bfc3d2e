// --exec's runner with real shells: a flood of output, and commands deaf to SIGTERM.
#include <gtest/gtest.h>
#include <station/exec_runner.h>

#include <QCoreApplication>

#include "../cli/cli_harness.h"

namespace vantor::clitest {
namespace {

TEST(StationExec, AFloodIsCutToItsShareOfTheLogAndStoppingEndsEvenWhatIsDeafToSigterm) {
    TempDir dir;
    const std::string pidFile = dir.file("grandchild");
    std::vector<std::string> lines;
    const auto said = [&](const std::string& part) {
        return std::any_of(lines.begin(), lines.end(), [&](auto& l) { return contains(l, part); });
    };
    // A line longer than a log line may be, then far more than a run's share; no grace
    // from SIGTERM to SIGKILL.
    station::ExecRunner runner(
        {"echo \"$VANTOR_OUTCOME\"; head -c 10000 /dev/zero | tr '\\0' x; echo; yes | head -c "
         "3000000; echo last; trap '' TERM; sleep 300 & echo $! > " +
             pidFile + "; wait",
         [&](const std::string& l) { lines.push_back(l); }, 4, 4096, 64 * 1024, 0});
    runner.run("F", {{"VANTOR_OUTCOME", "end marker"}});
    ASSERT_TRUE(eventually([&] {
        QCoreApplication::processEvents();
        return readFile(pidFile).find('\n') != std::string::npos;
    }));
    ASSERT_TRUE(said("the rest is dropped"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "--exec for F: end marker");
    EXPECT_EQ(lines[1], "--exec for F: " + std::string(4096, 'x') + " [line cut at 4 KiB]");
    EXPECT_EQ(lines[2], "--exec for F: y");
    std::size_t bytes = 0;
    for (const std::string& l : lines) bytes += l.size() + 1;
    EXPECT_LE(bytes, 64u * 1024 + 200);
    EXPECT_EQ(lines.back(), "--exec for F: more output than 64 KiB of log; the rest is dropped");
    EXPECT_FALSE(said("last"));
    const pid_t grandchild = std::stoi(readFile(pidFile));
    runner.stop();
    runner.waitEnded();
    EXPECT_TRUE(said("ending 1 --exec run (SIGTERM, then SIGKILL after 0 s)"));
    // Gone, or a zombie nobody has reaped yet.
    const std::string stat = readFile("/proc/" + std::to_string(grandchild) + "/stat");
    EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
}

}  // namespace
}  // namespace vantor::clitest
