#include <gtest/gtest.h>

#include "control/control_parts.h"
#include "kit/fake_control.h"
#include "kit/files.h"
#include "kit/frames.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using testing::endMarker;
using testing::FakeControl;
using testing::frame;
using testing::kExtendedBody;
using testing::kSimpleBody;
using testing::kTimeBody;
using testing::readFile;
using testing::ScratchDir;

const std::string kLineA = ",123.45,\"mg/L      \",1\r\n";
const std::string kLineB = ",123.4,12,2\r\n";

struct Batch : FakeControl {
    Batch() {
        comm->Port(1);
        comm->df = dir.file("d.dat");
        testing::writeFile(dir.file("unit2.dat"), "0,x\r\n1,mg/L\r\n");
        comm->AppPath(dir.path());
        comm->ReadUnitFile();
        comm->df = dir.file("d.dat");
    }
    // The meter sends `stream` in groups of `chunk` bytes, 10 ms apart, then
    // the blocking download runs.
    void download(const std::string& stream, std::size_t chunk = 7) {
        for (std::size_t i = 0; i < stream.size(); i += chunk) {
            serial->scheduleArrival(loop, 10, stream.substr(i, chunk));
        }
        comm->ReadDataLogger();
    }
    ScratchDir dir;
};

TEST(BatchReader, WellFormedFramesThenTheEndMarker) {
    for (std::size_t chunk : {1u, 5u, 16u, 1000u}) {
        Batch b;
        b.comm->fg_Two_Display = 3;
        b.comm->bReadDataOK = VbTrue;
        b.download(frame(kExtendedBody) + frame(kSimpleBody) + frame(kTimeBody) + endMarker(),
                   chunk);
        EXPECT_EQ(readFile(b.comm->df),
                  "0" + kLineA + "1" + kLineB + "2,\"120604154815\",\"Time\",0\r\n")
            << chunk;
        EXPECT_EQ(b.comm->datano, 3);
        EXPECT_EQ(b.comm->fgTransferOK, VbTrue);
        EXPECT_EQ(b.comm->fgComPortOpen, VbFalse);
        EXPECT_FALSE(b.serial->isOpen());
        EXPECT_EQ(b.comm->Panel().Label1[2].caption(), "Data Transfer OK");
        EXPECT_EQ(b.comm->Panel().Label1[4].caption(), "3");
        EXPECT_EQ(b.messages.messages, (std::vector<std::string>{"Data Received O.K!"}));
        EXPECT_EQ(b.comm->fg_Two_Display, 3);
        EXPECT_EQ(b.comm->bReadDataOK, VbTrue);
        Long frames = 9;
        b.comm->Read_Status(frames);
        EXPECT_EQ(frames, 0);  // the event receiver's count is untouched
        EXPECT_EQ(b.comm->LastTransferOutcome(), TransferOutcome::EndMarker);
        EXPECT_EQ(b.serial->settings().baud, 9600);
        EXPECT_EQ(ControlParts::of(*b.comm).MSComm1.InputLen(), 1);
    }
}

TEST(BatchReader, SilentMeterTimesOutAndReleasesEverything) {
    Batch b;
    b.comm->Panel().Timer1.setEnabled(true);
    b.serial->scheduleArrival(b.loop, 10,
                              frame(kExtendedBody) + frame(kSimpleBody) +
                                  "\x02"
                                  "41");
    auto start = b.loop.now();
    b.comm->ReadDataLogger();
    EXPECT_EQ(b.loop.now() - start, 60010ms);
    ASSERT_EQ(b.messages.messages.size(), 1u);
    EXPECT_NE(b.messages.messages[0].find("the meter stopped sending"), std::string::npos);

    Batch silent;  // a meter that never began
    silent.comm->ReadDataLogger();
    ASSERT_EQ(silent.messages.messages.size(), 1u);
    EXPECT_NE(silent.messages.messages[0].find("the meter sent nothing"), std::string::npos);
    EXPECT_EQ(b.comm->LastTransferOutcome(), TransferOutcome::TimedOut);
    EXPECT_EQ(readFile(b.comm->df), "0" + kLineA + "1" + kLineB);
    EXPECT_EQ(b.comm->datano, 2);
    EXPECT_EQ(b.comm->fgComPortOpen, VbFalse);
    EXPECT_EQ(b.comm->fgTransferOK, VbFalse);
    EXPECT_FALSE(b.serial->isOpen());
    EXPECT_FALSE(b.comm->Panel().Timer1.enabled());
    EXPECT_FALSE(b.comm->Panel().Shape1.visible());

    // The next call works.
    b.messages.messages.clear();
    b.download(frame(kSimpleBody) + endMarker());
    EXPECT_EQ(readFile(b.comm->df), "0" + kLineB);
    EXPECT_EQ(b.messages.messages, (std::vector<std::string>{"Data Received O.K!"}));
}

TEST(BatchReader, TimeOutIsSettableAndZeroWaitsForEver) {
    Batch b;
    b.comm->setReadTimeout(2s);
    b.serial->scheduleArrival(b.loop, 1500, frame(kSimpleBody));
    b.serial->scheduleArrival(b.loop, 1500, endMarker());
    b.comm->ReadDataLogger();
    EXPECT_EQ(b.comm->fgTransferOK, VbTrue);

    b.comm->setReadTimeout(0s);
    b.serial->scheduleArrival(b.loop, 3600 * 1000, frame(kSimpleBody) + endMarker());
    b.comm->ReadDataLogger();
    EXPECT_EQ(b.comm->fgTransferOK, VbTrue);
}

TEST(BatchReader, EventsAndTicksRunDuringTheWait) {
    Batch b;
    b.comm->Panel().Timer1.setEnabled(true);
    int hostEvents = 0;
    b.loop.post(1000ms, [&] { ++hostEvents; });
    std::vector<std::string> counts;
    b.comm->Panel().Label1[4].subscribe(
        [&] { counts.push_back(b.comm->Panel().Label1[4].caption()); });
    b.serial->scheduleArrival(b.loop, 100, frame(kExtendedBody));
    b.serial->scheduleArrival(b.loop, 1000, frame(kSimpleBody));
    b.serial->scheduleArrival(b.loop, 1000, endMarker());
    b.comm->ReadDataLogger();
    EXPECT_EQ(hostEvents, 1);
    EXPECT_EQ(counts, (std::vector<std::string>{"1", "2"}));  // ticks mirrored datano
    EXPECT_EQ(b.comm->fgTransferOK, VbTrue);
}

TEST(BatchReader, PortOpenedBySciInitAloneIsSaidSoAndClosedBeforeTheHostHearsOfAnEnd) {
    Batch b;
    b.comm->SCI_Init();
    b.comm->ReadDataLogger();
    ASSERT_EQ(b.messages.messages.size(), 1u);
    EXPECT_EQ(b.messages.messages[0].rfind("Port already open", 0), 0u);
    EXPECT_NE(b.messages.messages[0].find("opened by SCI_Init"), std::string::npos);
    EXPECT_TRUE(b.serial->isOpen());

    // A Start whose port number is refused, ended by the host from the message box.
    b.comm->Port(0);
    b.messages.whileShown = [&] { b.comm->AbortTransfer(); };
    int ended = 0;
    b.comm->onTransferEnded = [&] {
        ++ended;
        EXPECT_FALSE(b.serial->isOpen());
    };
    b.comm->Start();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(b.serial->isOpen());
    EXPECT_EQ(b.comm->fgComPortOpen, VbFalse);
}

TEST(BatchReader, ReceiveEventsOfAnEarlierStartTakeNothing) {
    Batch b;
    b.comm->Start();
    b.serial->arrive(endMarker());  // that transfer is over; RThreshold stays 1
    ASSERT_EQ(ControlParts::of(*b.comm).MSComm1.RThreshold(), 1);
    b.download(frame(kExtendedBody) + frame(kSimpleBody) + endMarker());
    EXPECT_EQ(readFile(b.comm->df), "0" + kLineA + "1" + kLineB);
}

}  // namespace
}  // namespace vantor
