// What only a POSIX system has: pipes, devices and folders without write
// access where the files layer expects a file.
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

// A device never ends: refused with the path, before memory grows.
TEST(DataView, ADeviceAsDataOrUnitFileIsRefusedWithItsPath) {
    for (const bool unitFile : {false, true}) {
        testing::FakeControl v;
        ScratchDir dir;
        v.comm->df = dir.file("d.dat");
        const std::string path = unitFile ? dir.file("unit2.dat") : v.comm->df;
        ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
        v.comm->AppPath(dir.path());
        v.comm->datano = 1;
        try {
            unitFile ? v.comm->ReadUnitFile() : v.comm->ViewData();
            ADD_FAILURE() << path << ": no error";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), kErrPathFileAccess) << path;
            EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
        }
    }
}

}  // namespace
}  // namespace vantor
