#include <gtest/gtest.h>

#include <optional>

#include "control/control_parts.h"
#include "kit/fake_control.h"
#include "kit/files.h"
#include "kit/frames.h"
#include "platform/port_device.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using testing::endFrame;
using testing::endMarker;
using testing::FakeControl;
using testing::frame;
using testing::kExtendedBody;
using testing::kSimpleBody;
using testing::kTimeBody;
using testing::readFile;
using testing::ScratchDir;

struct Armed : FakeControl {
    Armed() {
        comm->df = dir.file("d.dat");
        comm->Port(1);
    }
    Long frames() {
        Long n = 0;
        comm->Read_Status(n);
        return n;
    }
    ScratchDir dir;
};

TEST(TransferStart, ArmsTheDownload) {
    Armed a;
    a.comm->datano = 9;
    a.comm->fgTransferOK = VbTrue;
    EXPECT_EQ(a.comm->Start(), 0);
    EXPECT_TRUE(std::filesystem::exists(a.comm->df));
    EXPECT_EQ(readFile(a.comm->df), "");
    EXPECT_EQ(a.comm->datano, 0);
    EXPECT_EQ(a.frames(), 0);
    EXPECT_EQ(a.comm->fgComPortOpen, VbTrue);
    EXPECT_EQ(a.comm->fgTransferOK, VbFalse);
    const StatusPanel& p = a.comm->Panel();
    EXPECT_EQ(p.Label1[2].caption(), "Press Send Key to Transfer Data");
    EXPECT_EQ(p.Label1[4].caption(), "0");
    EXPECT_TRUE(p.Shape1.visible());
    EXPECT_TRUE(p.Label3.visible());
    EXPECT_TRUE(p.Timer1.enabled());
    EXPECT_TRUE(a.messages.messages.empty());
    // The line is always 9600,N,8,1, raw and binary, whatever the host stored.
    EXPECT_EQ(a.serial->settings().baud, 9600);
    EXPECT_EQ(a.serial->settings().parity, 'N');
    EXPECT_EQ(a.serial->settings().dataBits, 8);
    EXPECT_EQ(a.serial->settings().stopBits, 10);
    EXPECT_EQ(a.serial->device(), defaultPortDevice(1));
    EXPECT_EQ(ControlParts::of(*a.comm).MSComm1.InputMode(), 1);
    EXPECT_EQ(ControlParts::of(*a.comm).MSComm1.RThreshold(), 1);
}

TEST(TransferStart, AStartThatCannotArmShowsOneMessageAndLeavesEverythingAsItWas) {
    struct Case {
        const char* name;
        std::optional<SerialFailure> port;
        std::string df;  // in the scratch folder; empty: none given
        std::string message;
        int error;
        Integer portNumber = 1;
    };
    const std::string device = defaultPortDevice(1);
    const Case cases[] = {
        {"no such port", SerialFailure::Missing, "d.dat",
         "No such serial device: " + device +
             "; check the port number or device name, and that the serial adapter is plugged in",
         kErrPortInvalid},
        {"port refused", SerialFailure::PermissionDenied, "d.dat",
         "Permission denied: " + device +
             " (the user needs read and write access, usually by membership of the dialout group)",
         kErrPermissionDenied},
        {"port busy", SerialFailure::Busy, "d.dat",
         "Port already open: " + device + " is busy, in use by another program",
         kErrPortAlreadyOpen},
        {"port zero", std::nullopt, "d.dat", "Invalid port number", kErrPortInvalid, 0},
        {"no data file", std::nullopt, "", "Bad file name or number: no file name given",
         kErrBadFileNumber},
        {"no such folder", std::nullopt, "no/such.dat", "" /* named below */, kErrPathNotFound},
    };
    for (bool blocking : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (blocking ? ", blocking" : ", events"));
            Armed a;
            a.comm->df = c.df.empty() ? "" : a.dir.file(c.df);
            std::string message = c.message;
            if (c.error == kErrPathNotFound) {
                message = "Path not found: " + a.comm->df + " (the folder " + a.dir.file("no") +
                          " does not exist)";
            }
            if (c.port) a.serial->failNextOpen(*c.port);
            a.comm->Port(c.portNumber);
            const bool fileOpens = c.df == "d.dat";
            a.comm->datano = 4;
            if (blocking) {
                a.comm->fgTransferOK = VbTrue;  // an earlier success must not answer for this call
                a.comm->ReadDataLogger();
            } else {
                EXPECT_EQ(a.comm->Start(), 0);
            }
            EXPECT_EQ(a.messages.messages, (std::vector<std::string>{message}));
            EXPECT_EQ(a.comm->LastTransferOutcome(), TransferOutcome::NotArmed);
            ASSERT_TRUE(a.comm->LastError());
            EXPECT_EQ(a.comm->LastError()->number(), c.error);
            EXPECT_EQ(a.comm->LastError()->description(), message);
            // Start empties the counters once the file is open, before the port.
            EXPECT_EQ(a.comm->datano, !blocking && fileOpens ? 0 : 4);
            EXPECT_EQ(a.comm->fgComPortOpen, VbFalse);
            EXPECT_EQ(a.comm->fgTransferOK, VbFalse);
            EXPECT_FALSE(a.serial->isOpen());
            // Start shows its caption before it opens anything.
            EXPECT_EQ(a.comm->Panel().Label1[2].caption(),
                      blocking ? "" : "Press Send Key to Transfer Data");
            if (fileOpens) {
                EXPECT_FALSE(std::filesystem::exists(a.comm->df));  // no empty file left behind
            }
        }
    }
}

TEST(TransferStart, ASecondCallWhileArmedLeavesTheFirstTransferAlone) {
    for (bool blocking : {false, true}) {
        Armed a;
        a.comm->Start();
        a.serial->arrive(frame(kExtendedBody));
        if (blocking) {
            a.comm->ReadDataLogger();
        } else {
            a.comm->Start();
        }
        const std::string refused = blocking ? "Port already open: " + defaultPortDevice(1) +
                                                   " is in use by a transfer armed with Start"
                                             : "File already open: file number 2 is still in use";
        EXPECT_EQ(a.messages.messages, (std::vector<std::string>{refused}));
        EXPECT_EQ(a.comm->fgComPortOpen, VbTrue) << blocking;
        EXPECT_TRUE(a.comm->Panel().Timer1.enabled()) << blocking;
        EXPECT_EQ(ControlParts::of(*a.comm).MSComm1.InputLen(), 0) << blocking;
        EXPECT_EQ(a.comm->datano, 1) << blocking;
        a.serial->arrive(frame(kSimpleBody) + endMarker());
        EXPECT_EQ(a.comm->datano, 2) << blocking;
        EXPECT_EQ(readFile(a.comm->df),
                  "0,123.45,\"" + std::string(10, '\0') + "\",1\r\n1,123.4,12,2\r\n")
            << blocking;
    }
}

TEST(TransferStart, APortThatCannotBeOpenedKeepsTheLastDownloadsFile) {
    Armed a;
    testing::writeFile(a.comm->df, "0,1,2,3\r\n");
    a.serial->failNextOpen(SerialFailure::Busy);
    a.comm->Start();
    EXPECT_EQ(readFile(a.comm->df), "0,1,2,3\r\n");

    // With the port free, the next Start works, and empties the file.
    a.comm->Start();
    EXPECT_EQ(a.messages.messages.size(), 1u);
    EXPECT_EQ(a.comm->fgComPortOpen, VbTrue);
    EXPECT_EQ(readFile(a.comm->df), "");
    a.serial->arrive(frame(kSimpleBody) + endMarker());
    EXPECT_EQ(readFile(a.comm->df), "0,123.4,12,2\r\n");
}

TEST(TransferStart, ReadDataLogger2AloneLeavesThePanel) {
    Armed a;
    a.comm->ReadDataLogger_2();
    EXPECT_EQ(a.comm->fgComPortOpen, VbTrue);
    EXPECT_EQ(a.comm->Panel().Label1[2].caption(), "");
    EXPECT_FALSE(a.comm->Panel().Timer1.enabled());
}

TEST(PortSetup, SecondCallWhileOpenOnlyResetsTheReceiver) {
    Armed a;
    a.comm->SCI_Init();
    EXPECT_EQ(a.serial->opens(), 1);
    a.serial->arrive(
        "\x02"
        "4101");  // a frame being collected
    a.comm->Port(4);
    a.comm->SCI_Init();
    EXPECT_EQ(a.serial->opens(), 1);
    EXPECT_EQ(ControlParts::of(*a.comm).MSComm1.CommPort(),
              4);  // written, used at the next opening
    EXPECT_TRUE(a.messages.messages.empty());
    // The abandoned frame's rest is skipped; the next frame is whole.
    a.comm->ReadDataLogger_2();
    a.serial->arrive("0200012345\r" + frame(kSimpleBody));
    EXPECT_EQ(a.comm->datano, 1);
}

const std::string kNul10(10, '\0');

TEST(Transfer, WholeDownloadGivesTheExactFileWhateverTheReadSplit) {
    const std::string stream = frame(kTimeBody) + std::string("\0\0", 2) + frame(kExtendedBody) +
                               frame(kSimpleBody) + endMarker() + "junk";
    const std::string expected =
        "0,\"120604154815\",\"Time\",0\r\n"
        "1,123.45,\"" +
        kNul10 +
        "\",1\r\n"
        "2,123.4,12,2\r\n";
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Armed a;
        a.comm->Start();
        a.serial->arrive(stream.substr(0, cut));
        a.serial->arrive(stream.substr(cut));
        EXPECT_EQ(readFile(a.comm->df), expected) << cut;
        EXPECT_EQ(a.comm->fgTransferOK, VbTrue);
        EXPECT_EQ(a.comm->datano, 3);
        Long frames = 0;
        EXPECT_EQ(a.comm->Read_Status(frames), 1);
        EXPECT_EQ(frames, 3);
        EXPECT_FALSE(a.serial->isOpen());
        EXPECT_EQ(a.comm->fgComPortOpen, VbFalse);
        EXPECT_EQ(a.comm->LastTransferOutcome(), TransferOutcome::EndMarker);
        const StatusPanel& p = a.comm->Panel();
        EXPECT_EQ(p.Label1[2].caption(), "Data Transfer OK");
        EXPECT_EQ(p.Label1[4].caption(), "3");
        EXPECT_FALSE(p.Timer1.enabled());
        EXPECT_FALSE(p.Shape1.visible());
        EXPECT_FALSE(p.Label3.visible());
        EXPECT_TRUE(a.messages.messages.empty());
    }
}

TEST(Transfer, RecordsStopAtTheFourteenthEsc) {
    Armed a;
    a.comm->Start();
    // One frame carrying 14 ESC bytes inside, then a normal frame: no line for either.
    a.serial->arrive(frame(kExtendedBody) + endFrame() + frame(kSimpleBody));
    EXPECT_EQ(a.comm->datano, 1);
    EXPECT_EQ(a.comm->UnitIndex, 12);  // still decoded
    EXPECT_EQ(a.frames(), 1);
    EXPECT_EQ(a.comm->fgTransferOK, VbFalse);
    a.serial->arrive(endFrame());
    EXPECT_EQ(a.comm->fgTransferOK, VbTrue);
    EXPECT_EQ(readFile(a.comm->df), "0,123.45,\"" + kNul10 + "\",1\r\n");
}

TEST(Transfer, CounterFollowsTheRecordsOnEachTick) {
    Armed a;
    a.comm->Start();
    for (int i = 0; i < 5; ++i) a.serial->scheduleArrival(a.loop, 300, frame(kSimpleBody));
    a.serial->scheduleArrival(a.loop, 300, endMarker());
    std::vector<std::string> shown;
    a.comm->Panel().Label1[4].subscribe(
        [&] { shown.push_back(a.comm->Panel().Label1[4].caption()); });
    a.loop.advance(3000ms);
    // Ticks at 500, 1000, 1500 see 1, 3 and 5 records; the end shows 5 at once.
    EXPECT_EQ(shown, (std::vector<std::string>{"1", "3", "5"}));
    EXPECT_EQ(a.comm->Panel().Label1[4].caption(), "5");
    EXPECT_EQ(a.loop.activeTimers(), 0u);
}

TEST(Transfer, RecordsReachTheFileBeforeTheEventReturns) {
    Armed a;
    a.comm->Start();
    a.serial->arrive(frame(kSimpleBody) + frame(kSimpleBody));
    EXPECT_EQ(readFile(a.comm->df), "0,123.4,12,2\r\n1,123.4,12,2\r\n");
}

TEST(Transfer, FullDiskIsShownOnceAndDatanoCountsTheLinesInTheFile) {
    Armed a;
    a.comm->df = "/dev/full";
    a.comm->Start();
    a.serial->arrive(frame(kSimpleBody));
    a.serial->arrive(frame(kSimpleBody) + frame(kExtendedBody));
    a.serial->arrive(endMarker());
    EXPECT_EQ(a.messages.messages,
              (std::vector<std::string>{"Disk full: /dev/full (No space left on device)"}));
    EXPECT_EQ(a.comm->datano, 0);
    ASSERT_TRUE(a.comm->LastError());
    EXPECT_EQ(a.comm->LastError()->number(), kErrDiskFull);
    EXPECT_EQ(a.comm->Stats().recordsLost, 3);
    EXPECT_EQ(a.comm->fgTransferOK, VbTrue);
}

TEST(Transfer, FramesWithoutADataFileWriteNothing) {
    Armed a;
    a.comm->SCI_Init();
    a.serial->arrive(frame(kSimpleBody) + frame(kExtendedBody));
    EXPECT_EQ(a.comm->datano, 0);
    EXPECT_EQ(a.comm->UnitIndex, 1);
    EXPECT_FALSE(std::filesystem::exists(a.comm->df));
}

TEST(Transfer, DestroyingTheControlMidTransferKeepsEveryRecord) {
    Armed a;
    a.comm->Start();
    a.serial->arrive(frame(kSimpleBody) + frame(kTimeBody));
    a.comm.reset();
    EXPECT_EQ(readFile(a.dir.file("d.dat")), "0,123.4,12,2\r\n1,\"120604154815\",\"Time\",0\r\n");
}

TEST(Transfer, DeviceLostEndsTheTransferVisiblyAndKeepsTheRecords) {
    for (bool blocking : {false, true}) {
        Armed a;
        int ended = 0;
        a.comm->onTransferEnded = [&] { ++ended; };
        const std::string bytes = frame(kSimpleBody) +
                                  "\x02"
                                  "41";
        if (blocking) {
            a.serial->scheduleArrival(a.loop, 10, bytes);
            a.loop.post(500ms, [&] { a.serial->lose(); });
            a.comm->ReadDataLogger();
        } else {
            a.comm->Start();
            a.serial->arrive(bytes);
            a.serial->lose();
        }
        EXPECT_EQ(ended, 1) << blocking;
        EXPECT_EQ(a.comm->LastTransferOutcome(), TransferOutcome::DeviceLost) << blocking;
        EXPECT_EQ(a.comm->fgComPortOpen, VbFalse) << blocking;
        EXPECT_EQ(a.comm->fgTransferOK, VbFalse) << blocking;
        EXPECT_FALSE(a.serial->isOpen()) << blocking;
        EXPECT_FALSE(a.comm->Panel().Timer1.enabled()) << blocking;
        ASSERT_EQ(a.messages.messages.size(), 1u) << blocking;
        EXPECT_EQ(a.messages.messages[0].rfind("Device lost: " + defaultPortDevice(1), 0), 0u)
            << a.messages.messages[0];
        EXPECT_EQ(readFile(a.comm->df), "0,123.4,12,2\r\n") << blocking;
        // The file is released: a new transfer can start.
        a.comm->Start();
        EXPECT_EQ(a.comm->fgComPortOpen, VbTrue) << blocking;
    }
}

TEST(Transfer, AbortEndsEitherDownloadQuietlyKeepingTheRecordsAndReleasingFileAndPort) {
    for (bool blocking : {false, true}) {
        Armed a;
        if (blocking) {
            a.serial->scheduleArrival(a.loop, 10, frame(kSimpleBody));
            a.loop.post(5000ms, [&] { a.comm->AbortTransfer(TransferOutcome::TimedOut); });
            a.comm->ReadDataLogger();
        } else {
            a.comm->Start();
            a.serial->arrive(frame(kSimpleBody));
            a.comm->AbortTransfer(TransferOutcome::TimedOut);
        }
        EXPECT_EQ(a.comm->LastTransferOutcome(), TransferOutcome::TimedOut) << blocking;
        EXPECT_FALSE(a.serial->isOpen()) << blocking;
        EXPECT_EQ(readFile(a.comm->df), "0,123.4,12,2\r\n") << blocking;
        a.comm->Start();
        EXPECT_TRUE(a.messages.messages.empty()) << blocking;

        // Once a transfer has ended, an abort changes nothing.
        a.serial->arrive(testing::endMarker());
        a.comm->AbortTransfer();
        EXPECT_EQ(a.comm->LastTransferOutcome(), TransferOutcome::EndMarker) << blocking;
        EXPECT_EQ(a.comm->fgTransferOK, VbTrue) << blocking;
    }
}

TEST(Transfer, BlinkPhaseCarriesOverFromOneTransferToTheNext) {
    Armed a;
    a.comm->Start();
    a.loop.advance(500ms);
    EXPECT_EQ(a.comm->Panel().Shape1.fillColour(), 0x80FF80u);
    a.serial->arrive(endMarker());
    a.loop.advance(5000ms);
    EXPECT_EQ(a.comm->Panel().Shape1.fillColour(), 0x80FF80u);  // no tick after the end
    a.comm->Start();
    a.loop.advance(500ms);
    EXPECT_EQ(a.comm->Panel().Shape1.fillColour(), 0xFF8080u);
}

TEST(Transfer, DiagnosticsCountWhatTheLineCarried) {
    Armed a;
    a.comm->Start();
    a.serial->arrive("ab" + frame(kSimpleBody) + "\x02" + kExtendedBody.substr(0, 13) + "\r" +
                     frame(kSimpleBody) + endMarker());
    const TransferStats& s = a.comm->Stats();
    EXPECT_EQ(s.framesReceived, 3);  // two readings and the first end frame
    EXPECT_EQ(s.framesRejected, 1);
    EXPECT_EQ(s.bytesSkipped, 2);
}

}  // namespace
}  // namespace vantor
