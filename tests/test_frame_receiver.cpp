#include <gtest/gtest.h>

#include <vector>

#include "kit/frames.h"
#include "serial/frame_receiver.h"

namespace vantor {
namespace {

using testing::endFrame;
using testing::frame;
using testing::kExtendedBody;
using testing::kSimpleBody;
using testing::kTimeBody;

// Runs the receiver from its hunting state over `reads`, collecting the
// bodies (positions 1..14) of the frames it dispatches.
struct Receiver {
    explicit Receiver(Integer escAtStart = 0) {
        m.bySync[1] = 2;
        m.iFrameEnd = 15;
        m.iSyncIdx = 1;
        m.iEscCount = escAtStart;
    }
    ReceiveResult feed(const std::vector<std::string>& reads) {
        for (const auto& r : reads) {
            std::size_t at = 0;
            for (ReceiveResult got;
                 (got = receiveBytes(m, r, at, counters)) != ReceiveResult::NeedMore;) {
                if (got == ReceiveResult::TransferEnded) return got;
                std::string body;
                for (int i = 1; i <= 14; ++i) body.push_back(static_cast<char>(*m.vFrameBuf[i]));
                bodies.push_back(body);
            }
        }
        return ReceiveResult::NeedMore;
    }
    ControlPrivate m;
    TransferStats counters;
    std::vector<std::string> bodies;
};

std::vector<std::vector<std::string>> splitsOf(const std::string& s) {
    std::vector<std::vector<std::string>> out{{s}};
    std::vector<std::string> bytes;
    for (char c : s) bytes.emplace_back(1, c);
    out.push_back(bytes);
    for (std::size_t k = 1; k < s.size(); ++k) out.push_back({s.substr(0, k), s.substr(k)});
    return out;
}

TEST(FrameReceiver, FramesComeOutWholeHoweverTheReadsAreSplit) {
    const std::string stream =
        "xx" + frame(kExtendedBody) + "\x1b\x01" + frame(kSimpleBody) + frame(kTimeBody) + "\r";
    for (const auto& reads : splitsOf(stream)) {
        Receiver run;
        EXPECT_EQ(run.feed(reads), ReceiveResult::NeedMore);
        EXPECT_EQ(run.bodies, (std::vector<std::string>{kExtendedBody, kSimpleBody, kTimeBody}));
        EXPECT_EQ(run.m.lFrameCount, 3);
        EXPECT_EQ(run.m.iEscCount, 0);  // bytes between frames are never ESC-counted
        EXPECT_EQ(run.counters.bytesSkipped, 5);
        EXPECT_EQ(run.m.iRxState, 0);
    }
}

TEST(FrameReceiver, StartByteInsideAFrameIsData) {
    const std::string body =
        "4\x02"
        "010200012345";
    Receiver run;
    run.feed({frame(body)});
    EXPECT_EQ(run.bodies, (std::vector<std::string>{body}));
}

TEST(FrameReceiver, BadTerminatorDropsThatFrameOnlyAndHuntsAgainAtTheFailingByte) {
    // A frame that lost a byte on the line: its 16th byte is the next frame's STX.
    const std::string shortFrame = "\x02" + kExtendedBody.substr(0, 13) + "\r";
    const std::string stream = shortFrame + frame(kSimpleBody) + frame(kTimeBody);
    for (const auto& reads : splitsOf(stream)) {
        Receiver run;
        run.feed(reads);
        EXPECT_EQ(run.bodies, (std::vector<std::string>{kSimpleBody, kTimeBody}));
        EXPECT_EQ(run.counters.framesRejected, 1);
    }
}

TEST(FrameReceiver, EscAsFailingTerminatorIsNotCounted) {
    Receiver run;
    run.feed({"\x02" + kExtendedBody + "\x1b" + frame(kSimpleBody)});
    EXPECT_EQ(run.m.iEscCount, 0);
    EXPECT_EQ(run.bodies, (std::vector<std::string>{kSimpleBody}));
}

TEST(FrameReceiver, FramesAfterTheFirstEscAreDispatchedButNotCounted) {
    const std::string withEsc =
        "410102000123\x1b"
        "5";
    Receiver run;
    run.feed({frame(kExtendedBody) + frame(withEsc) + frame(kSimpleBody)});
    EXPECT_EQ(run.bodies.size(), 3u);
    EXPECT_EQ(run.m.lFrameCount, 1);
    EXPECT_EQ(run.m.iEscCount, 1);
}

TEST(FrameReceiver, EndMarkerEndsAtTheTwentyEighthEscWithoutItsTerminator) {
    const std::string stream = frame(kExtendedBody) + endFrame() + endFrame() + frame(kSimpleBody);
    for (const auto& reads : splitsOf(stream)) {
        Receiver run;
        EXPECT_EQ(run.feed(reads), ReceiveResult::TransferEnded);
        // The first end frame is dispatched; the second ends at position 14.
        EXPECT_EQ(run.bodies, (std::vector<std::string>{kExtendedBody, std::string(14, '\x1b')}));
        EXPECT_EQ(run.m.iEscCount, 28);
        EXPECT_EQ(run.m.iRxIdx, 14);
    }
}

TEST(FrameReceiver, TwentySevenEscDoNotEndTheTransfer) {
    Receiver run;
    EXPECT_EQ(run.feed({endFrame() + "\x02" + std::string(13, '\x1b')}), ReceiveResult::NeedMore);
    EXPECT_EQ(run.m.iEscCount, 27);
    EXPECT_EQ(run.feed({"\x1b"}), ReceiveResult::TransferEnded);
}

TEST(FrameReceiver, CountAlreadyPastTheEndStillEnds) {
    Receiver run(30);
    EXPECT_EQ(run.feed({"\x02"
                        "\x1b"}),
              ReceiveResult::TransferEnded);
}

}  // namespace
}  // namespace vantor
