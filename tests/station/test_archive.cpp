// The station's archive on a real folder: what a kill, a full disk, a damaged index
// or someone else's links leave there.
#include <gtest/gtest.h>
#include <station/archive.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "../cli/cli_harness.h"

namespace vantor::clitest {
namespace {

namespace fs = std::filesystem;
using station::Found;

// Every name under `folder`, links marked "->".
std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string name = e.path().string().substr(folder.size() + 1);
        names.insert(e.is_symlink() ? name + " ->" : name);
    }
    return names;
}

TEST(StationArchive, RecoveryFilesWhatAKillAndAFullDiskLeftAndLeavesLinksAlone) {
    TempDir dir;
    const std::string a = dir.file("archive");
    for (const std::string& d : {dir.file("outside"), a + "/m-a", a + "/m-b"})
        fs::create_directories(d);
    writeFile(dir.file("outside/file"), "theirs\n");
    const std::pair<const char*, std::string> files[] = {
        // Killed while receiving: its start mark names it.
        {"m-a/.incoming-1.dat", knownDataFile()},
        {"m-a/.incoming-1.dat.start", "1767225600\n"},
        {"m-a/.incoming-1.raw", "bytes"},
        // Filed while the index could not be written.
        {"m-a/20260101T000000Z.dat", "0,1.5,12,1\r\n"},
        // Killed before a byte came; and a mark whose file is gone.
        {"m-a/.incoming-2.dat", ""},
        {"m-a/.incoming-2.raw", ""},
        {"m-a/.incoming-2.dat.start", "1\n"},
        {"m-a/.incoming-3.dat.start", "1\n"},
        // A transfer this station is running.
        {"m-b/.incoming-4.dat", "running"},
    };
    for (const auto& [name, bytes] : files) writeFile(a + "/" + name, bytes);
    const std::pair<const char*, const char*> links[] = {
        {"m-c", "outside"},
        {"m-a/20260102T000000Z.dat", "outside/file"},
        {"m-a/.incoming-5.dat", "outside/file"},
    };
    for (const auto& [link, target] : links) fs::create_symlink(dir.file(target), a + "/" + link);
    writeFile(a + "/index.sqlite", std::string(5000, 'x'));

    const mode_t umask = ::umask(0);
    station::Archive archive(a);
    std::string aside, why;
    auto index = archive.openIndex(aside, why);
    ::umask(umask);
    // Nothing in a damaged index is lost: it is made again from the archive.
    EXPECT_EQ(aside, "index.sqlite.corrupt-1");
    EXPECT_EQ(readFile(a + "/index.sqlite.corrupt-1"), std::string(5000, 'x'));
    for (const char* f : {"index.sqlite", ".station.lock"})
        EXPECT_EQ(fs::status(a + "/" + f).permissions() & fs::perms::all, fs::perms(0640)) << f;
    EXPECT_THROW(station::Archive{a}, RuntimeError);  // one station per archive
    EXPECT_THROW(station::folderIn(archive.fd(), "m-c", "m-c"), RuntimeError);
    const auto recover = [&] {
        return archive.recover([&]() -> station::SiteDatabase& { return *index; }, {},
                               [](const std::string& stable, const std::string& base) {
                                   return stable == "m-b" && base == ".incoming-4";
                               });
    };
    const station::Recovery r = recover();
    const std::vector<Found> found{
        {Found::LinkFolder, a + "/m-c", ""},
        {Found::Kept, "m-a/20260101T000000Z.partial.dat", ""},
        {Found::NotAFile, a + "/m-a/.incoming-5.dat", ""},
        {Found::Indexed, "m-a/20260101T000000Z.dat", ""},
        {Found::NotAFile, a + "/m-a/20260102T000000Z.dat", ""},
    };
    EXPECT_EQ(r.found, found);
    EXPECT_FALSE(r.stillOut);
    const auto row = [&](std::int64_t id) {
        const auto d = index->download(id);
        return d.file + " " + d.outcome + " " + std::to_string(d.records) + " " + d.started;
    };
    EXPECT_EQ(row(1),
              "m-a/20260101T000000Z.partial.dat cut short (the station was killed) 4 "
              "2026-01-01T00:00:00Z");
    EXPECT_EQ(row(2), "m-a/20260101T000000Z.dat end marker (indexed later) 1 2026-01-01T00:00:00Z");
    EXPECT_EQ(
        namesIn(a),
        (std::set<std::string>{
            ".station.lock", "index.sqlite", "index.sqlite-shm", "index.sqlite-wal",
            "index.sqlite.corrupt-1", "m-a", "m-a/.incoming-5.dat ->", "m-a/20260101T000000Z.dat",
            "m-a/20260101T000000Z.partial.dat", "m-a/20260101T000000Z.partial.dat.raw",
            "m-a/20260102T000000Z.dat ->", "m-b", "m-b/.incoming-4.dat", "m-c ->"}));
    EXPECT_EQ(readFile(a + "/m-a/20260101T000000Z.partial.dat"), knownDataFile());
    EXPECT_EQ(readFile(dir.file("outside/file")), "theirs\n");
    // Once filed, only the links are found again.
    EXPECT_EQ(recover().found.size(), 3u);
    EXPECT_FALSE(archive.indexMoved());
    ASSERT_EQ(::unlink(archive.indexPath().c_str()), 0);
    EXPECT_TRUE(archive.indexMoved());
}

}  // namespace
}  // namespace vantor::clitest
