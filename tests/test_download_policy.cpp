#include <gtest/gtest.h>
#include <vantor/download.h>

#include <filesystem>

#include "kit/fake_control.h"
#include "kit/files.h"
#include "kit/frames.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using testing::FakeControl;
using testing::frame;
using testing::kSimpleBody;
using testing::kTimeBody;
using testing::readFile;
using testing::ScratchDir;

struct Limited : FakeControl {
    explicit Limited(bool blocks) : blocking(blocks) {
        comm->df = dir.file("d.dat");
        comm->Port(1);
        comm->setReadTimeout(0ms);
    }
    // The meter sends a frame at each of `at` (ms after the start), then
    // nothing; returns when the transfer has ended.
    void run(std::initializer_list<int> at) {
        int last = 0;
        for (const int t : at) {
            serial->scheduleArrival(loop, t - last, frame(kSimpleBody));
            last = t;
        }
        start = loop.now();
        if (blocking) {
            comm->ReadDataLogger();
        } else {
            comm->Start();
            while (comm->fgComPortOpen != VbFalse && loop.now() - start < 1h) loop.advance(1ms);
        }
    }
    bool blocking;
    ScratchDir dir;
    MessageLoop::Clock::time_point start;
};

TEST(TransferLimits, EndTheTransferInBothKindsWithTheirOwnOutcome) {
    struct Case {
        bool blocking;
        std::chrono::milliseconds idle, limit;
        std::initializer_list<int> frames;
        TransferOutcome outcome;
        std::chrono::milliseconds endsAt;
    };
    // Idle counts from the last byte, only once the meter has begun.
    const Case cases[] = {
        {false, 500ms, 0ms, {3000, 3400}, TransferOutcome::Idle, 3900ms},
        {true, 500ms, 0ms, {3000, 3400}, TransferOutcome::Idle, 3900ms},
        {false, 0ms, 2000ms, {100, 1900}, TransferOutcome::TimedOut, 2000ms},
        {true, 0ms, 2000ms, {100, 1900}, TransferOutcome::TimedOut, 2000ms},
        {true, 500ms, 2000ms, {}, TransferOutcome::TimedOut, 2000ms},
    };
    for (const Case& c : cases) {
        Limited l(c.blocking);
        l.comm->setIdleTimeout(c.idle);
        l.comm->setTransferTimeout(c.limit);
        l.run(c.frames);
        const auto took = l.loop.now() - l.start;
        const auto records = static_cast<Long>(c.frames.size());
        EXPECT_EQ(l.comm->LastTransferOutcome(), c.outcome) << c.blocking;
        EXPECT_GE(took, c.endsAt) << c.blocking;
        EXPECT_LT(took, c.endsAt + 20ms) << c.blocking;
        EXPECT_EQ(l.comm->datano, records);
        EXPECT_TRUE(l.messages.messages.empty()) << l.messages.messages.front();
        EXPECT_FALSE(l.serial->isOpen());
    }
}

TEST(RecordNotice, EveryRecordInOrderAsItsLineWasWritten) {
    Limited l(false);
    std::string lines;
    std::vector<Long> sequences;
    l.comm->onRecordWritten = [&](const RecordWritten& r) {
        sequences.push_back(r.sequence);
        lines += std::string(r.line) + "\r\n";
        EXPECT_EQ(r.timeStamp, r.sequence == 1);
        EXPECT_EQ(r.value, r.timeStamp ? 0 : 123.4);
        EXPECT_EQ(r.items.sequence, std::to_string(r.sequence));
        EXPECT_EQ(r.items.isTimeStamp(), r.timeStamp);
        EXPECT_EQ(r.items.value, r.timeStamp ? "120604154815" : "123.4");
    };
    l.comm->Start();
    l.serial->arrive(frame(kSimpleBody) + frame(kTimeBody) + frame(kSimpleBody) +
                     testing::endMarker());
    EXPECT_EQ(sequences, (std::vector<Long>{0, 1, 2}));
    EXPECT_EQ(lines, readFile(l.comm->df));
}

TEST(Download, KeepsTheEarlierFileAndUndoesTheCopyWhenNothingArms) {
    for (const bool arms : {true, false}) {
        Limited l(false);
        testing::writeFile(l.comm->df, "earlier\r\n");
        if (!arms) l.serial->failNextOpen(SerialFailure::Busy);
        Download download(*l.comm, {.keepEarlier = true});
        download.start();
        const DownloadReport r = download.report();
        EXPECT_EQ(r.kept, arms ? l.comm->df + ".1" : "");
        EXPECT_EQ(std::filesystem::exists(l.comm->df + ".1"), arms);
        EXPECT_EQ(readFile(arms ? r.kept : l.comm->df), "earlier\r\n");
        EXPECT_EQ(r.outcome, arms ? TransferOutcome::None : TransferOutcome::NotArmed);
    }
}

TEST(DownloadReport, WordsHowItEndedAndWhatFailed) {
    DownloadReport r;
    r.outcome = TransferOutcome::Idle;
    r.idleTimeout = 2500ms;
    r.records = 1;
    r.dataFile = "d.dat";
    EXPECT_EQ(endedText(r), "idle (the meter was silent for 2.5 s)");
    EXPECT_EQ(failureText(r),
              "the meter went silent before its end marker; 1 record received is "
              "in d.dat");
    EXPECT_STREQ(outcomeName(r.outcome), "idle");
}

}  // namespace
}  // namespace vantor
