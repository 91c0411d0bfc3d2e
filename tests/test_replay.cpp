#include <gtest/gtest.h>

#include "kit/fake_control.h"
#include "kit/files.h"
#include "kit/frames.h"
#include "platform/replay/serial_backend_replay.h"

namespace vantor {
namespace {

using testing::frame;
using testing::readFile;

struct Replay : testing::FakePlatform {
    explicit Replay(const std::string& capture) {
        testing::writeFile(dir.file("cap.bin"), capture);
        comm = std::make_unique<Vantor_Comm>(
            ControlPlatform{loop, messages, dates,
                            std::make_unique<ReplaySerialBackend>(loop, dir.file("cap.bin"))});
        comm->Port(1);
        comm->df = dir.file("d.dat");
    }
    testing::ScratchDir dir;
    std::unique_ptr<Vantor_Comm> comm;

    void download(bool blocking) {
        if (blocking) {
            comm->ReadDataLogger();
        } else {
            comm->Start();
            loop.runPosted();
        }
    }
};

// Three stray bytes first, so that frames straddle the chunk boundaries.
// The event receiver skips them; the blocking reader's first frame then has
// too many bytes before its CR and is counted without a line.
std::string longCapture(int frames, bool blocking, std::string* expected) {
    std::string capture = "\x01\x01\x01";
    for (int i = 0; i < frames; ++i) {
        capture += frame(testing::kSimpleBody);
        if (i > 0 || !blocking) *expected += std::to_string(i) + ",123.4,12,2\r\n";
    }
    return capture;
}

TEST(ReplaySerial, PlaysACaptureThroughBothDownloads) {
    for (bool blocking : {false, true}) {
        std::string expected;
        const std::string capture = longCapture(9000, blocking, &expected) + testing::endMarker();
        ASSERT_GT(capture.size(), 2 * ReplaySerialBackend::kChunk);
        Replay r(capture);
        r.download(blocking);
        EXPECT_EQ(r.comm->LastTransferOutcome(), TransferOutcome::EndMarker) << blocking;
        EXPECT_TRUE(readFile(r.comm->df) == expected) << blocking;  // too long to print
    }
}

TEST(ReplaySerial, CaptureEndingEarlyReportsTheEndOfTheLine) {
    for (bool blocking : {false, true}) {
        std::string expected;
        const std::string capture = longCapture(3, blocking, &expected) +
                                    "\x02"
                                    "0212";
        Replay r(capture);
        r.download(blocking);
        EXPECT_EQ(r.comm->LastTransferOutcome(), TransferOutcome::DeviceLost);
        EXPECT_EQ(readFile(r.comm->df), expected);
        ASSERT_EQ(r.messages.messages.size(), 1u);
        EXPECT_NE(r.messages.messages[0].find("ends before the meter's end marker"),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace vantor
