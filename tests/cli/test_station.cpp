// station: two meters into one archive, a meter that vanishes, a kill.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace vantor::clitest {
namespace {

namespace fs = std::filesystem;

// The archive's downloads, as "folder/file outcome records [repeat]" lines by id.
std::vector<std::string> indexRows(const std::string& archive) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((archive + "/index.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT stable_name, outcome, records, repeat_of IS NOT NULL FROM "
                       "downloads ORDER BY id",
                       -1, &s, nullptr);
    while (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
        rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))) + " " +
                       reinterpret_cast<const char*>(sqlite3_column_text(s, 1)) + " " +
                       std::to_string(sqlite3_column_int64(s, 2)) +
                       (sqlite3_column_int(s, 3) != 0 ? " repeat" : ""));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

// The files in archive/folder whose names end in `ending`.
std::vector<std::string> filesIn(const std::string& folder, const std::string& ending) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() >= ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0 &&
            name[0] != '.') {
            out.push_back(e.path().string());
        }
    }
    return out;
}

// Some file in `folder` (the one being written, under its temporary name) holds `bytes`.
bool someFileHolds(const std::string& folder, const std::string& bytes) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        if (readFile(e.path().string()) == bytes) return true;
    }
    return false;
}

struct StationRun {
    StationRun() {
        EXPECT_EQ(::symlink(a.device().c_str(), dir.file("m-a").c_str()), 0);
        EXPECT_EQ(::symlink(b.device().c_str(), dir.file("m-b").c_str()), 0);
    }
    std::vector<std::string> args() const {
        return command({"station", "--archive", archive, "--device", dir.file("m-*")});
    }
    bool armed() {
        return eventually([&] { return a.peerOpen() && b.peerOpen(); });
    }

    TempDir dir;
    sim::PtyMeter a, b;
    const std::string archive = dir.file("archive");
};

TEST(Station, TwoMetersAtOnceIntoOneArchiveAndTheSameMemoryTwiceIsARepeat) {
    StationRun s;
    Program p(s.args(), s.dir);
    ASSERT_TRUE(s.armed()) << p.err();
    s.a.send(knownFrames() + sim::endMarker(), false);
    s.b.send(knownFrames() + knownFrames() + sim::endMarker(), false);
    ASSERT_TRUE(eventually([&] { return indexRows(s.archive).size() == 2; })) << p.err();
    const auto filesA = filesIn(s.archive + "/m-a", ".dat");
    ASSERT_EQ(filesA.size(), 1u) << p.err();
    EXPECT_EQ(readFile(filesA[0]), knownDataFile());
    // SEND again on the first: its own file, never over the first, marked a repeat.
    ASSERT_TRUE(eventually([&] { return s.a.peerOpen(); }));
    s.a.send(knownFrames() + sim::endMarker(), false);
    ASSERT_TRUE(eventually([&] { return indexRows(s.archive).size() == 3; })) << p.err();
    EXPECT_EQ(filesIn(s.archive + "/m-a", ".dat").size(), 2u);
    const auto rows = indexRows(s.archive);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "m-a end marker 4"), 1) << p.err();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "m-b end marker 8"), 1) << p.err();
    EXPECT_EQ(rows.back(), "m-a end marker 4 repeat");
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), kExitOk) << p.err();
}

TEST(Station, AMeterThatVanishesLeavesItsPartialFileAndTheOthersGoOn) {
    StationRun s;
    Program p(s.args(), s.dir);
    ASSERT_TRUE(s.armed()) << p.err();
    s.a.send(knownFrames(), false);
    ASSERT_TRUE(eventually([&] { return someFileHolds(s.archive + "/m-a", knownDataFile()); }))
        << p.err();
    s.a.hangUp();
    ASSERT_TRUE(eventually([&] { return indexRows(s.archive).size() == 1; })) << p.err();
    EXPECT_EQ(indexRows(s.archive)[0], "m-a device lost 4");
    const auto partial = filesIn(s.archive + "/m-a", ".partial.dat");
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(readFile(partial[0]), knownDataFile());
    // The other meter is still armed.
    s.b.send(knownFrames() + sim::endMarker(), false);
    ASSERT_TRUE(eventually([&] { return indexRows(s.archive).size() == 2; })) << p.err();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), kExitOk) << p.err();
}

TEST(Station, AKillLeavesTheIndexReadableAndTheNextStartIndexesWhatWasLeftOut) {
    StationRun s;
    {
        Program p(s.args(), s.dir);
        ASSERT_TRUE(s.armed()) << p.err();
        s.a.send(knownFrames() + sim::endMarker(), false);
        ASSERT_TRUE(eventually([&] { return indexRows(s.archive).size() == 1; })) << p.err();
        ASSERT_TRUE(eventually([&] { return s.b.peerOpen(); }));
        s.b.send(knownFrames(), false);
        ASSERT_TRUE(eventually([&] { return someFileHolds(s.archive + "/m-b", knownDataFile()); }))
            << p.err();
        p.kill();
    }
    EXPECT_EQ(indexRows(s.archive), std::vector<std::string>{"m-a end marker 4"});
    // Filed while the index could not be written (a full disk, say).
    writeFile(s.archive + "/m-a/20260101T000000Z.dat", "0,1.5,12,1\r\n");
    Program again(s.args(), s.dir);
    ASSERT_TRUE(eventually([&] { return indexRows(s.archive).size() == 3; })) << again.err();
    // The same records as m-a's download: a repeat.
    EXPECT_EQ(indexRows(s.archive)[1], "m-a end marker (indexed later) 1");
    EXPECT_EQ(indexRows(s.archive)[2], "m-b cut short (the station was killed) 4 repeat");
    const auto partial = filesIn(s.archive + "/m-b", ".partial.dat");
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(readFile(partial[0]), knownDataFile());
    again.signal(SIGTERM);
    EXPECT_EQ(again.wait(), kExitOk) << again.err();
}

}  // namespace
}  // namespace vantor::clitest
