// Faults as a user meets them: a full disk, a folder without permission, a killed
// program, a port or data file already in use.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

class Fault : public ::testing::TestWithParam<Mode> {
  protected:
    TempDir dir;
    sim::PtyMeter meter;
};

INSTANTIATE_TEST_SUITE_P(Modes, Fault, ::testing::Values(Mode::Events, Mode::Blocking), modeName);

TEST_P(Fault, FullDiskIsReportedOnceAndNoRecordIsCountedThatIsNotThere) {
    Program p(downloadCommand(meter.device(), "/dev/full", GetParam()), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames() + knownFrames() + sim::endMarker()));
    EXPECT_EQ(p.wait(), kExitFailure) << p.err();
    const std::string err = p.err();
    EXPECT_EQ(err.find("Disk full"), err.rfind("Disk full")) << err;
    EXPECT_TRUE(contains(err, "Disk full"));
    EXPECT_TRUE(contains(err, "records written: 0,"));
    EXPECT_TRUE(contains(err, "records the data file refused: 8"));
}

TEST_P(Fault, DataFileEmptiedMidDownloadIsReportedAsLostRecords) {
    const std::string data = dir.file("d.dat");
    Program p(downloadCommand(meter.device(), data, GetParam()), dir);
    ASSERT_TRUE(pressSend(meter, p, knownFrames()));
    ASSERT_TRUE(eventually([&] { return readFile(data) == knownDataFile(); }));
    ASSERT_EQ(::truncate(data.c_str(), 0), 0);  // another program empties it
    meter.send(knownFrames() + sim::endMarker(), false);
    EXPECT_EQ(p.wait(), kExitFailure) << p.err();
    EXPECT_TRUE(contains(p.err(), "changed by another program"));
    EXPECT_TRUE(contains(p.err(), "records written: 0,"));
    // The bytes stay, to decode the records again.
    EXPECT_EQ(readFile(data + ".raw").substr(0, knownFrames().size()), knownFrames());
}

TEST_P(Fault, APortOrDataFileThatCannotBeOpenedEndsAtOnceAndLeavesTheFilesAlone) {
    // Root passes every permission check on ordinary folders; sysfs still says no.
    std::string locked = "/sys/kernel/notes";
    if (::geteuid() != 0) {
        ::mkdir(dir.file("locked").c_str(), 0500);
        locked = dir.file("locked/d.dat");
    }
    const std::string data = dir.file("d.dat");
    const struct {
        std::string device, dataFile, error;
        bool portFailed;
    } cases[] = {
        {"/dev/nonexistent-tty", data, "No such serial device: /dev/nonexistent-tty", true},
        {meter.device(), dir.file("missing/d.dat"), "Path not found: " + dir.file("missing"),
         false},
        {meter.device(), locked, "Permission denied", false},
    };
    writeFile(data, "0,1,2,3\r\n");
    for (const auto& c : cases) {
        Program p(downloadCommand(c.device, c.dataFile, GetParam()), dir);
        EXPECT_EQ(p.wait(), kExitNotArmed) << p.err();
        EXPECT_TRUE(contains(p.err(), c.error)) << p.err();
        if (c.portFailed) {
            EXPECT_FALSE(contains(p.err(), "Press Send Key")) << "told to press SEND on no port";
        }
    }
    EXPECT_EQ(readFile(data), "0,1,2,3\r\n");
    EXPECT_FALSE(exists(data + ".1"));
    EXPECT_FALSE(exists(dir.file("missing")));
}

TEST_P(Fault, SecondDownloadOnABusyPortIsRefusedAtOnce) {
    Program first(downloadCommand(meter.device(), dir.file("a.dat"), Mode::Events), dir);
    ASSERT_TRUE(eventually([&] { return meter.peerOpen(); }));
    Program second(downloadCommand(meter.device(), dir.file("b.dat"), GetParam()), dir);
    EXPECT_EQ(second.wait(), kExitNotArmed) << second.err();
    EXPECT_TRUE(contains(second.err(), "busy"));
    // The first download is unharmed.
    meter.send(knownFrames() + sim::endMarker(), false);
    EXPECT_EQ(first.wait(), kExitOk) << first.err();
    EXPECT_EQ(readFile(dir.file("a.dat")), knownDataFile());
}

TEST_P(Fault, SecondDownloadIntoTheSameFileIsRefusedAndTheFirstKeepsItsRecords) {
    const std::string data = dir.file("d.dat");
    Program first(downloadCommand(meter.device(), data, Mode::Events), dir);
    ASSERT_TRUE(eventually([&] { return meter.peerOpen(); }));
    meter.send(knownFrames(), false);
    ASSERT_TRUE(eventually([&] { return readFile(data) == knownDataFile(); }));

    sim::PtyMeter other;
    Program second(downloadCommand(other.device(), data, GetParam()), dir);
    EXPECT_EQ(second.wait(), kExitNotArmed) << second.err();
    EXPECT_TRUE(contains(second.err(), "being written by another download"));
    meter.send(knownFrames() + sim::endMarker(), false);
    EXPECT_EQ(first.wait(), kExitOk) << first.err();
    const std::string file = readFile(data);
    EXPECT_EQ(file.rfind(knownDataFile(), 0), 0u) << file;
    EXPECT_EQ(countLines(file), 8) << file;
    EXPECT_FALSE(exists(data + ".1"));
}

TEST_P(Fault, ASignalEndsTheTransferWithEveryRecordAndTheSummary) {
    const struct {
        int signal;
        const char* ended;
    } cases[] = {
        {SIGINT, "ended: interrupted (SIGINT)"},
        {SIGHUP, "ended: hung up (SIGHUP)"},  // the terminal or ssh session closed
    };
    for (const auto& c : cases) {
        TempDir here;
        sim::PtyMeter line;
        const std::string data = here.file("d.dat");
        Program p(downloadCommand(line.device(), data, GetParam()), here);
        ASSERT_TRUE(pressSend(line, p, knownFrames()));
        ASSERT_TRUE(eventually([&] { return readFile(data) == knownDataFile(); }));
        p.signal(c.signal);
        EXPECT_EQ(p.wait(), 128 + c.signal) << p.err();
        EXPECT_EQ(readFile(data), knownDataFile());
        EXPECT_TRUE(contains(p.err(), "records written: 4,"));
        EXPECT_TRUE(contains(p.err(), c.ended));
        // The bytes of the unnamed unit are put in place, and nothing else is left.
        EXPECT_EQ(readFile(data + ".raw"), knownFrames()) << c.ended;
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(here.path())) {
            if (e.path().filename().string().rfind("d.dat", 0) == 0) {
                names.push_back(e.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"d.dat", "d.dat.raw"})) << c.ended;
    }
}

TEST_P(Fault, KilledMidTransferLeavesOnlyWholeLines) {
    const std::string data = dir.file("d.dat");
    Program p(downloadCommand(meter.device(), data, GetParam()), dir);
    ASSERT_TRUE(eventually([&] { return meter.peerOpen(); }));
    std::string stream;
    for (int i = 0; i < 400; ++i) stream += knownFrames();
    meter.sendAsync(stream, true);
    ASSERT_TRUE(eventually([&] { return countLines(readFile(data)) >= 20; }));
    p.kill();
    EXPECT_EQ(p.wait(), 128 + SIGKILL);
    meter.stop();
    meter.wait();

    const std::string file = readFile(data);
    // Every complete line carries the next sequence number.
    std::size_t whole = file.rfind("\r\n") + 2;
    int n = 0;
    for (std::size_t at = 0; at < whole; ++n) {
        std::size_t end = file.find("\r\n", at) + 2;
        std::string line = file.substr(at, end - at);
        std::size_t comma = line.find(',');
        ASSERT_EQ(line.substr(0, comma), std::to_string(n)) << line;
        at = end;
    }
    EXPECT_GE(n, 20);
    EXPECT_LE(file.size() - whole, 40u);  // at most a part of one line after the last whole one
}

}  // namespace
}  // namespace vantor::clitest
