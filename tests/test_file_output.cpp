// A host's output written whole before it takes its name (FileOutput).
#include <gtest/gtest.h>
#include <vantor/file_output.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "kit/files.h"

namespace vantor {
namespace {

using Files = std::map<std::string, std::string>;  // name -> contents

Files filesIn(const std::string& folder) {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path().filename().string()] = testing::readFile(entry.path().string());
    }
    return files;
}

struct OutputCase {
    const char* what;
    Files before;
    bool commit;
    const char* kept;
    Files after;
};

TEST(FileOutput, ReplacesNothingAndLeavesNoTemporaryFile) {
    const OutputCase cases[] = {
        {"a new name", {}, true, "", {{"o.csv", "new"}}},
        {"the earlier file kept as the first free o.csv.N",
         {{"o.csv", "old"}, {"o.csv.1", "one"}},
         true,
         "o.csv.2",
         {{"o.csv", "new"}, {"o.csv.1", "one"}, {"o.csv.2", "old"}}},
        {"an empty earlier file replaced", {{"o.csv", ""}}, true, "", {{"o.csv", "new"}}},
        {"not committed: as it was", {{"o.csv", "old"}}, false, "", {{"o.csv", "old"}}},
        {"not committed, new: nothing", {}, false, "", {}},
    };
    for (const OutputCase& c : cases) {
        SCOPED_TRACE(c.what);
        testing::ScratchDir dir;
        for (const auto& [name, bytes] : c.before) testing::writeFile(dir.file(name), bytes);
        std::string kept;
        {
            FileOutput out(dir.file("o.csv"));
            std::fputs("new", out.stream());
            EXPECT_NE(out.temporary(), dir.file("o.csv"));
            if (c.commit) kept = out.commit();
        }
        EXPECT_EQ(kept, c.kept[0] == '\0' ? "" : dir.file(c.kept));
        EXPECT_EQ(filesIn(dir.path()), c.after);
    }
}

}  // namespace
}  // namespace vantor
