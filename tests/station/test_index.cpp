// The index and the site's sender on SQLite and on a real PostgreSQL server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <station/archive.h>
#include <station/site_sender.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "../cli/cli_harness.h"

namespace vantor::clitest {
namespace {

namespace fs = std::filesystem;
using Index = station::SiteDatabase;

// Files `file` (relative to `archive`) in `index` as the station does.
Index::Added file(Index& index, const std::string& archive, const std::string& file) {
    const station::Fd fd(::open((archive + "/" + file).c_str(), O_RDONLY));
    const station::Digest digest = station::digestOf(fd.get());
    const std::string t = "2026-01-01T00:00:00Z";
    const Index::Download d{
        "",   "/dev/ttyUSB0", file.substr(0, file.find('/')), t, t, digest.lines, "end marker",
        file, digest.sha256};
    return index.add(d, archive + "/" + file, {});
}

std::string shown(const ReadingRow& r) {
    return r.record + "," + r.time + "," + r.stamp + "," + std::to_string(r.channel) + "," +
           r.value + "," + r.unit + "," + r.status;
}

class SiteDatabase : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (std::string(GetParam()) == "sqlite") {
            url = "sqlite:" + dir.file("site.sqlite");
            return;
        }
        const char* server = std::getenv("VANTOR_TEST_PG");
        if (server == nullptr) GTEST_SKIP() << "VANTOR_TEST_PG names no test server";
        pg = server;
        url = readFile(pg + "/url");
        url.erase(url.find_last_not_of('\n') + 1);
    }
    // Takes the server away or brings it back.
    void server(const char* what) {
        if (pg.empty()) return;
        const std::string line = std::string(VANTOR_SOURCE_DIR) + "/tools/pg_test_server.sh " +
                                 what + " " + pg + " >/dev/null";
        ASSERT_EQ(std::system(line.c_str()), 0) << line;
    }
    std::string said() {
        std::lock_guard lock(mutex);
        return log;
    }
    TempDir dir;
    std::string url, pg;
    std::mutex mutex;
    std::string log;
};

TEST_P(SiteDatabase, TwoStationsSendEachMemoryOnceAndAnOutageLosesNothing) {
    const std::string one = dir.file("one"), two = dir.file("two");
    const std::pair<std::string, std::string> files[] = {
        {one + "/m-a/1.dat", knownDataFile()},
        {one + "/m-b/1.dat", knownDataFile() + knownDataFile()},
        {two + "/m-a/1.dat", knownDataFile()},  // the same memory at the other station
        {two + "/m-b/1.dat", "0,1.5,12,1\r\n"},
    };
    for (const auto& [path, bytes] : files) {
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, bytes);
    }
    const auto take = [this](const std::string& line) {
        std::lock_guard lock(mutex);
        log += line + "\n";
    };
    std::vector<std::unique_ptr<station::SiteSender>> senders;
    for (const std::string& archive : {one, two}) {
        Index index("sqlite:" + archive + "/index.sqlite");
        file(index, archive, "m-a/1.dat");
        if (archive == one) file(index, archive, "m-b/1.dat");
        senders.push_back(std::make_unique<station::SiteSender>(station::SiteSender::Setup{
            "sqlite:" + archive + "/index.sqlite", url, archive, archive, {}, take}));
    }
    const auto downloads = [&]() -> std::size_t {
        try {
            return Index(url, Index::Access::Read).notSentTo("-").size();
        } catch (const RuntimeError&) {
            return 0;  // not made yet
        }
    };
    ASSERT_TRUE(eventually([&] { return downloads() == 3; })) << said();

    // The site goes away; what the station files meanwhile is sent once it is back.
    server("pause");
    {
        Index index("sqlite:" + two + "/index.sqlite");
        file(index, two, "m-b/1.dat");
        senders[1]->poke();
    }
    if (!pg.empty()) {
        ASSERT_TRUE(eventually([&] { return contains(said(), "lost the database"); }));
        server("resume");
    }
    const std::string back = pg.empty() ? "" : "is back: 1 download caught up";
    ASSERT_TRUE(eventually([&] { return downloads() == 4 && contains(said(), back); }, 30s))
        << said();

    // The site's readings are those of the files, each memory once (the other a repeat),
    // read as export does.
    std::vector<std::string> fromFiles, fromSite;
    for (const auto& [path, bytes] : files) {
        if (path != two + "/m-a/1.dat")
            eachReading(path, {}, [&](const ReadingRow& r) { fromFiles.push_back(shown(r)); });
    }
    Index site(url, Index::Access::Read);
    site.eachReading({}, [&](const ReadingRow& r) { fromSite.push_back(shown(r)); });
    std::ranges::sort(fromFiles);
    std::ranges::sort(fromSite);
    EXPECT_EQ(fromSite, fromFiles);
    // A file gone is said before anything is written.
    Index index("sqlite:" + one + "/index.sqlite");
    EXPECT_THROW(file(index, one, "m-a/nosuch.dat"), RuntimeError);
    EXPECT_FALSE(index.has("", "m-a/nosuch.dat"));
}

INSTANTIATE_TEST_SUITE_P(Engines, SiteDatabase, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& engine) { return std::string(engine.param); });

}  // namespace
}  // namespace vantor::clitest
