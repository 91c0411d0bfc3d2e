// What only a POSIX system has: pipes and folders without write access where
// the files layer expects a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/file_table.h"
#include "kit/fake_control.h"
#include "kit/files.h"

namespace vantor {
namespace {

using testing::errorOf;
using testing::ScratchDir;

TEST(FileTable, RefusesAPipeAndAFolderWithoutWriteAccess) {
    ScratchDir dir;
    FileTable files;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(errorOf([&] { files.openOutput(1, dir.file("fifo")); }), 75);  // not a hang
    if (::geteuid() != 0) {
        ::chmod(dir.path().c_str(), 0500);
        EXPECT_EQ(errorOf([&] { files.openOutput(3, dir.file("c")); }), 70);
    }
}

}  // namespace
}  // namespace vantor
